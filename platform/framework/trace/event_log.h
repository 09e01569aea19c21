#pragma once

#include <ostream>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/framework/trace/log_handle.h"

namespace Kiv {

// What the agent had in hand when it raised a message, for a sink to show beside the text
// (a log line names a key, and an engineer asks which rule and which module): 0 for none.
struct LogContext {
   U32 module = 0;
   U32 uid = 0;

   bool operator==(const LogContext&) const = default;
};

// Gives the calling thread's messages `module` and `uid` while it lives; the context before
// comes back when it goes.
class LogContextGuard {
public:
   LogContextGuard(U32 module, U32 uid);
   ~LogContextGuard();
   LogContextGuard(const LogContextGuard&) = delete;
   LogContextGuard& operator=(const LogContextGuard&) = delete;

private:
   LogContext previous_;
};

// One raised event log message.
struct LogRecord {
   String name;
   LogSeverity severity;
   String text;
   LogContext context{};

   bool operator==(const LogRecord&) const = default;
};

// Where the process's event log messages go. write() calls are serialised across threads.
// A sink must not raise log messages from write().
class LogSink {
public:
   virtual ~LogSink() = default;
   virtual void write(const LogRecord& record) = 0;
};

// Installs `sink` (null drops every message from now on) and returns the previous one. The
// sink is not owned; once this returns no thread is still inside the previous sink.
LogSink* logSinkIs(LogSink* sink);

// Raises `handle`'s message with `argument` in place of its "%s".
void log(const LogHandle& handle, const String& argument);

// Writes each message as one line, "<NAME>: <text>", and flushes. The stream is not owned.
class StreamLogSink : public LogSink {
public:
   explicit StreamLogSink(std::ostream& stream) : stream_(stream) {}
   void write(const LogRecord& record) override;

private:
   std::ostream& stream_;
};

}  // namespace Kiv

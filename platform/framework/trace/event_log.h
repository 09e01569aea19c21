#pragma once

#include <ostream>

#include "platform/framework/kiv/string.h"
#include "platform/framework/trace/log_handle.h"

namespace Kiv {

// One raised event log message.
struct LogRecord {
   String name;
   LogSeverity severity;
   String text;

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

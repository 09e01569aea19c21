#pragma once

#include <ostream>
#include <string_view>

#include "platform/framework/kiv/types.h"

namespace Kiv {

// One framework trace message. The views point into the emitter's data and are valid only
// for the duration of TraceSink::write(); a sink that keeps a message copies it.
struct TraceMessage {
   std::string_view facility;
   U32 level;
   std::string_view file;
   int line;
   std::string_view function;  // the emitting operation's short name
   std::string_view text;
};

// Where the process's trace messages go. write() calls are serialised across threads, so a
// sink needs no locking of its own for them. A sink must not trace from write().
class TraceSink {
public:
   virtual ~TraceSink() = default;
   virtual void write(const TraceMessage& message) = 0;
};

// Installs `sink` (null drops every message from now on) and returns the previous one. The
// sink is not owned; it must outlive its installation. Once this returns no thread is still
// inside the previous sink, so the caller may destroy it.
TraceSink* traceSinkIs(TraceSink* sink);

// Hands `message` to the installed sink, if any.
void traceSinkWrite(const TraceMessage& message);

// Writes each message as one line, "<facility>/<level> <file>:<line> <function>: <text>",
// and flushes, so that the lines before a crash are not lost. The stream is not owned.
class StreamTraceSink : public TraceSink {
public:
   explicit StreamTraceSink(std::ostream& stream) : stream_(stream) {}
   void write(const TraceMessage& message) override;

private:
   std::ostream& stream_;
};

}  // namespace Kiv

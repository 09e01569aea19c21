#include "platform/framework/trace/trace_sink.h"

#include <mutex>
#include <utility>

namespace Kiv {
namespace {

// The mutex both serialises writes and lets traceSinkIs() wait out a write in progress.
struct Installed {
   std::mutex mutex;
   TraceSink* sink = nullptr;
};

Installed& installed() {
   static Installed* const instance = new Installed;
   return *instance;
}

}  // namespace

TraceSink* traceSinkIs(TraceSink* sink) {
   Installed& current = installed();
   const std::lock_guard<std::mutex> hold(current.mutex);
   return std::exchange(current.sink, sink);
}

void traceSinkWrite(const TraceMessage& message) {
   Installed& current = installed();
   const std::lock_guard<std::mutex> hold(current.mutex);
   if (current.sink) current.sink->write(message);
}

void StreamTraceSink::write(const TraceMessage& message) {
   stream_ << message.facility << '/' << message.level << ' ' << message.file << ':' << message.line
           << ' ' << message.function << ": " << message.text << std::endl;
}

}  // namespace Kiv

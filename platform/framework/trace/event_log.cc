#include "platform/framework/trace/event_log.h"

#include <mutex>
#include <utility>

namespace Kiv {
namespace {

// The mutex both serialises writes and lets logSinkIs() wait out a write in progress.
struct Installed {
   std::mutex mutex;
   LogSink* sink = nullptr;
};

Installed& installed() {
   static Installed* const instance = new Installed;
   return *instance;
}

thread_local LogContext threadContext;

}  // namespace

LogContextGuard::LogContextGuard(U32 module, U32 uid) : previous_(threadContext) {
   threadContext = LogContext{module, uid};
}

LogContextGuard::~LogContextGuard() { threadContext = previous_; }

LogSink* logSinkIs(LogSink* sink) {
   Installed& current = installed();
   const std::lock_guard<std::mutex> hold(current.mutex);
   return std::exchange(current.sink, sink);
}

void log(const LogHandle& handle, const String& argument) {
   const LogRecord record{handle.name(), handle.severity(), handle.text(argument), threadContext};
   Installed& current = installed();
   const std::lock_guard<std::mutex> hold(current.mutex);
   if (current.sink) current.sink->write(record);
}

void StreamLogSink::write(const LogRecord& record) {
   stream_ << record.name << ": " << record.text << std::endl;
}

}  // namespace Kiv

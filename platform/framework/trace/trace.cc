#include "platform/framework/trace/trace.h"

#include "platform/framework/trace/trace_sink.h"

namespace Kiv {

void trace(const TraceHandle& handle, U32 level, const char* file, int line, const char* function,
           std::string_view text) {
   if (!handle.enabled(level)) return;
   traceSinkWrite(TraceMessage{handle.name(), level, file, line, function, text});
}

}  // namespace Kiv

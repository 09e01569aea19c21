#pragma once

#include <string_view>

#include "platform/framework/kiv/types.h"
#include "platform/framework/trace/trace_handle.h"

namespace Kiv {

// Emits `text` on `handle` at `level` as coming from `function` at `file`:`line`, if that
// level is on; otherwise does nothing. For helpers that trace on behalf of their caller;
// other code uses KIV_TRACE, which also skips building the text.
void trace(const TraceHandle& handle, U32 level, const char* file, int line, const char* function,
           std::string_view text);

}  // namespace Kiv

// Traces `text` (an expression convertible to std::string_view, typically a Kiv::String) on
// the facility `handle` at `level`. `text` is evaluated only when the level is on.
#define KIV_TRACE(handle, level, text)                                                        \
   do {                                                                                       \
      const ::Kiv::TraceHandle& kivTraceHandle_ = (handle);                                   \
      const ::U32 kivTraceLevel_ = (level);                                                   \
      if (kivTraceHandle_.enabled(kivTraceLevel_)) {                                          \
         ::Kiv::trace(kivTraceHandle_, kivTraceLevel_, __FILE__, __LINE__, __func__, (text)); \
      }                                                                                       \
   } while (0)

#pragma once

#include "platform/framework/kiv/types.h"
#include "platform/framework/trace/ring_descriptor.h"
#include "platform/framework/trace/ring_trace.h"
#include "platform/framework/trace/trace.h"
#include "platform/framework/trace/trace_handle.h"

namespace Kiv {

// Records `args` for `site` in this thread's ring trace and, when `level` is on, traces the
// same text on `handle`. Both texts come from the same pieces and the same value renderers,
// so they are identical.
template <class... A>
void dualTrace(const TraceHandle& handle, U32 level, const RingDescriptor& site, const A&... args) {
   RingTrace::record(site, args...);
   if (handle.enabled(level)) {
      trace(handle, level, site.file(), site.line(), site.function(), site.render(args...));
   }
}

}  // namespace Kiv

// KIV_RING_TRACE and KIV_TRACE in one: the ring trace always gets the raw record, the
// facility `handle` gets the rendered text when `level` is on. Arguments are evaluated once.
#define KIV_DUAL_TRACE(handle, level, fmt, ...)                                     \
   do {                                                                             \
      KIV_RING_SITE_(kivRingSite_, fmt, __VA_ARGS__);                               \
      ::Kiv::dualTrace((handle), (level), kivRingSite_ __VA_OPT__(, ) __VA_ARGS__); \
   } while (0)

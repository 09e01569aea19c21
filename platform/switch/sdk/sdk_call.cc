#include "platform/switch/sdk/sdk_call.h"

#include <cstdio>

#include "platform/framework/kiv/string.h"
#include "platform/framework/trace/trace.h"

namespace Shim {
namespace {

// The SDK call facility, looked up once at load.
const Kiv::TraceHandle& apiTessel = Kiv::traceHandle("ApiTessel");
constexpr U32 sdkCallTraceLevel = 4;

[[noreturn]] void stopOnFailure(const CallSite& site, S32 rc) {
   std::fprintf(stderr, "%s:%d %s API ERROR:%s (%d)\n", site.file, site.line, site.expression,
                sdk_.bcm_errmsg(rc), rc);
   std::fflush(stderr);
   Kiv::assertionFailed(Kiv::AssertionSite{"0", site.file, site.line, site.signature});
}

}  // namespace

S32 callResult(const CallSite& site, CallKind kind, S32 rc) {
   if (kind == CallKind::write && rc < 0) stopOnFailure(site, rc);
   if (apiTessel.enabled(sdkCallTraceLevel)) {
      const char* label = kind == CallKind::write ? "rc" : "rv";
      Kiv::trace(apiTessel, sdkCallTraceLevel, site.file, site.line, site.function,
                 Kiv::format("%s:%d %s (%s:%d)", site.file, site.line, site.expression, label, rc));
   }
   return rc;
}

}  // namespace Shim

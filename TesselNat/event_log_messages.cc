#include "TesselNat/event_log_messages.h"

namespace TesselNat {

const Kiv::LogHandle& tesselConfigChange() {
   static const Kiv::LogHandle handle(
       "TESSEL_CONFIG_CHANGE", Kiv::LogSeverity::informational,
       "Configuration change requires the Tessel agent %s to restart",
       "Configuration change requires the switch ASIC to be reconfigured, requiring the Tessel "
       "agent to restart.",
       Kiv::NoActionRequired, 0.0, 1.0, 0);
   return handle;
}

const Kiv::LogHandle& tesselUnexpectedRestart() {
   static const Kiv::LogHandle handle("TESSEL_UNEXPECTED_RESTART", Kiv::LogSeverity::error,
                                      "Unexpected restart of Tessel agent %s occurred",
                                      "Unexpected restart of the Tessel agent occurred.",
                                      Kiv::CallSupportIfPersists, 0.0, 1.0, 0);
   return handle;
}

const Kiv::LogHandle& tesselNatTcamResourceFull() {
   static const Kiv::LogHandle handle(
       "TESSEL_NAT_TCAM_RESOURCE_FULL", Kiv::LogSeverity::error,
       "Hardware resources are insufficient to add NAT rule with key <%s>",
       "The switch is unable to program TCAM entries.",
       "Reconfigure the system to clear up hardware resources before configuring this NAT rule",
       0.0, 1.0, 0);
   return handle;
}

}  // namespace TesselNat

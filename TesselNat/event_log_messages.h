#pragma once

#include "platform/framework/trace/log_handle.h"

namespace TesselNat {

// The plug-in's event-log messages, defined once, by the library load (tessel_nat_library.h)
// or a use before it. Only the TCAM-full message is raised; the other two are defined for the
// agent's message catalogue.
const Kiv::LogHandle& tesselConfigChange();
const Kiv::LogHandle& tesselUnexpectedRestart();
const Kiv::LogHandle& tesselNatTcamResourceFull();

}  // namespace TesselNat

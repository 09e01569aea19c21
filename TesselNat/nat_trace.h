#pragma once

#include "platform/framework/trace/trace_handle.h"

namespace Tessel {

// The plug-in's default trace facility, "TesselSliceNatSlaveProgrammerSm", created on first
// use (once, also under concurrent first use).
inline const Kiv::TraceHandle& natTrace() {
   static const Kiv::TraceHandle& handle = Kiv::traceHandle("TesselSliceNatSlaveProgrammerSm");
   return handle;
}

// Levels of the plug-in's traces.
inline constexpr U32 traceStep = 8;        // state-machine steps
inline constexpr U32 traceNotPending = 7;  // a uid not pending for the module
inline constexpr U32 traceShow = 3;        // the show dump
inline constexpr U32 traceCommand = 4;     // an agent command for the plug-in

}  // namespace Tessel

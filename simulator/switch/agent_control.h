#pragma once

#include <sys/types.h>

#include <array>

#include "platform/framework/kiv/types.h"

namespace Simulator {

// What a switch's driver and its agent tell each other, in the switch's segment: the shape of
// the chip, the platform state the agent takes from the switch (the modules in it, the TCAM
// flash downloads done), the faults the driver plans for the agent, and how far the agent has
// got. The driver writes its part and rings the agent's doorbell; the agent writes its part
// and rings the driver's. Every word is read and written whole (Segment::atomicLoad and
// atomicStore), so either side may die between any two writes and leave nothing torn.
struct AgentControl {
   static constexpr const char* segmentName = "simulator.agentControl";
   // Module ids run below this; a module is driven by the SDK unit of its number.
   static constexpr U32 maxModules = 256;

   // Where a planned crash kills the agent: after its Nth SDK call from when it learns of the
   // plan; at its Nth SDK call of the root's commit pass (at the pass's end when it makes
   // fewer); at its Nth SDK call of the flash download (at its end when it makes fewer).
   enum class CrashPoint : U32 { none, sdkCall, commitPass, flashDownload };

   // Set once, when the switch is made.
   U32 natEntries = 0;
   U32 pipes = 1;
   U32 copiesPerPipe = 1;
   pid_t driverPid = 0;
   // Whether an agent that starts cold finds the flash download done.
   U32 flashDownloadDone = 0;

   // The driver's part; `generation` moves after every change of the rest.
   std::array<U8, maxModules> modulePresent{};
   U32 flashDownloads = 0;  // flash downloads asked for since the switch was made
   // The planned crash and pause: an agent acts on them once per value of `plans`, which
   // moves when they are set. A plan is spent once it fired; the driver then clears it.
   U32 crashPoint = 0;  // a CrashPoint
   U32 crashCalls = 0;
   U32 pauseCalls = 0;  // the agent holds on after this many SDK calls (0: never)
   U32 plans = 0;
   U32 generation = 0;

   // The agent's part. An agent acted on the driver's part as of `generationSeen`, and had
   // nothing left to do when the store had counted `quietAt` changes.
   pid_t agentPid = 0;
   U32 generationSeen = 0;
   U64 quietAt = 0;
   // The agent waits inside an SDK call until the driver clears it.
   U32 paused = 0;
};

}  // namespace Simulator

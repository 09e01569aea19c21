#include "simulator/switch/agent_process.h"

#include <chrono>
#include <iostream>

#include "platform/agent/command/command_server.h"
#include "platform/agent/loop/agent_loop.h"
#include "platform/framework/kiv/activity_lock.h"
#include "platform/records/tessel_nat/nat_table_types.h"
#include "platform/segment/tear_free.h"
#include "platform/switch/chip/simulated_chip.h"
#include "platform/switch/sdk/sdk.h"
#include "simulator/switch/agent_host.h"
#include "simulator/switch/repeat_collapsing_log.h"

namespace Simulator {

int runAgentProcess(const std::string& segmentName, const std::string& socket, bool warm,
                    bool jsonLog) {
   // Event-log messages on standard error; it lives as long as the process.
   static RepeatCollapsingLog log(std::cerr, jsonLog ? RepeatCollapsingLog::Format::json
                                                     : RepeatCollapsingLog::Format::text);
   Kiv::logSinkIs(&log);
   std::unique_ptr<Segment::SwitchSegment> segment;
   try {
      segment = Segment::SwitchSegment::attach(segmentName);
   } catch (const std::exception& error) {
      std::cerr << "tessel-nat agent: " << error.what() << "\n";
      return 1;
   }
   AgentControl& control = segment->findOrConstruct<AgentControl>(AgentControl::segmentName);
   ::Chip::SimulatedChip::Config chipConfig;
   chipConfig.tcamSlotsPerUnit = Segment::atomicLoad(control.natEntries);
   chipConfig.pipes = static_cast<U8>(Segment::atomicLoad(control.pipes));
   chipConfig.copiesPerPipe = static_cast<U8>(Segment::atomicLoad(control.copiesPerPipe));
   ::Chip::SimulatedChip chip(*segment, chipConfig);
   const Shim::ScopedBackend backend(chip);
   const Kiv::Ptr<Shoal::SharedStore> store = new Shoal::SharedStore(*segment);
   // The platform knows the types of the tables it serves.
   TesselNat::natTableTypesIs();

   const Kiv::ActivityGuard framework(Kiv::activityLock());
   Agent::AgentLoop loop;
   AgentHost host(store, control, warm);
   std::unique_ptr<Agent::CommandServer> server;
   try {
      server = std::make_unique<Agent::CommandServer>(loop, socket);
   } catch (const std::exception& error) {
      std::cerr << "tessel-nat agent: " << error.what() << "\n";
      return 1;
   }
   server->callbackIs(host.commandCallback());
   server->callbackIs(host.auditCallback());
   // Each burst of work ends with the count of a message it raised again and again.
   loop.afterWorkIs([&host] {
      host.doQuiet(true);
      log.flush();
   });
   for (;;) loop.doRunFor(std::chrono::hours(1));
}

}  // namespace Simulator

#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "TesselNat/agent/nat_mounter.h"
#include "TesselNat/diagnostics/nat_cli_callback.h"
#include "control_plane/nat_control_plane.h"
#include "platform/agent/command/command_server.h"
#include "platform/agent/plugin/loader.h"
#include "platform/segment/switch_segment.h"
#include "platform/switch/chip/simulated_chip.h"
#include "platform/switch/sdk/sdk.h"
#include "platform/switch/tcam/tessel_tcam_group_manager.h"
#include "platform/tables/shoal/shared_store.h"

namespace Simulator {

// A whole switch in one process. What outlives an agent restart lives here: the switch's
// segment with the chip behind the SDK shim and the shared tables in it (where a restarted
// agent finds both as the last one left them, in this process or another), and the control
// plane publishing into the tables. The agent (framework
// objects, TCAM managers, the plug-in with its mounter, root, programmers and status
// directories, the command callback) is built on top and can be torn down and built again,
// cold or warm. Module m is driven by SDK unit m.
//
// The caller is the framework thread and holds the activity lock throughout.
class SimulatedSwitch {
public:
   struct Config {
      U32 natEntries = 2048;  // NAT field entries per unit
      U8 pipes = 1;
      U8 copiesPerPipe = 1;
      std::set<U16> modules{1};
      // Whether the TCAM flash download is done when the agent first starts.
      bool flashDownloadDone = true;
      // The entries of each mount's change ring in the shared tables; a small ring makes
      // the agent's mounts resync often.
      U32 changeRingEntries = Shoal::TableHeader::defaultRingEntries;
   };

   explicit SimulatedSwitch(const Config& config);
   ~SimulatedSwitch();
   SimulatedSwitch(const SimulatedSwitch&) = delete;
   SimulatedSwitch& operator=(const SimulatedSwitch&) = delete;

   // Runs the framework's loop and lets the control plane read the answers, until nothing
   // is left to do.
   void doSettle();

   // Tears the agent down and builds it again. Warm: on the same chip, hitless until
   // doFlashDownload(). Cold: the chip is reset and the control plane publishes its rules
   // again.
   void doRestart(bool warm);
   // The two halves of a restart, for whoever measures them apart: the agent process goes
   // (and with a cold restart the chip's content and the control plane's answers), then it
   // comes back and settles.
   void doAgentStop(bool warm);
   void doAgentStart(bool warm);
   // The agent's TCAM flash download: the warm phase ends and the previous run's entries go.
   void doFlashDownload();

   void moduleIs(U16 module);
   void moduleDel(U16 module);
   const std::set<U16>& modules() const { return config_.modules; }

   // Serves agent commands through `server` (not null) from now on; the switch holds it.
   void commandServerIs(std::unique_ptr<Agent::CommandServer> server);
   Agent::CommandServer* commandServer() const { return commandServer_.get(); }
   // The plug-in's command callback, as the agent created it.
   const Kiv::Ptr<TesselCommon::AgentCommandCallback>& commandCallback() const;

   // The module's audit, over the rules that name the module: verification expects every
   // shadow key on every module, while the control plane asks each rule of its modules only.
   std::vector<Tessel::VerifyDisagreement> audit(U16 module) const;

   // The trace facilities of the agent, all made by now so that a program can check and set
   // their levels before the agent starts: the SDK's is made when the program loads, the
   // plug-in's default one on its first use, which this is.
   static std::vector<std::string> traceFacilities();

   // Null before the mounter made it.
   Kiv::Ptr<Tessel::NatSlaveRootSm> rootSm() const;
   // Null when the module has no programmer (yet).
   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer(U16 module) const;
   Kiv::Ptr<TesselUnboundedTcamEntryManager> natEntryManager() const;
   ::Chip::SimulatedChip& chip() { return chip_; }
   // The segment the chip and the tables live in, which other processes of the switch attach
   // to by name.
   const Segment::SwitchSegment& segment() const { return *segment_; }
   ControlPlane::NatControlPlane& controlPlane() { return controlPlane_; }
   const Config& config() const { return config_; }

private:
   struct AgentProcess;

   void agentStart(bool warm);

   Config config_;
   std::unique_ptr<Segment::SwitchSegment> segment_;
   ::Chip::SimulatedChip chip_;
   Shim::ScopedBackend backend_;
   Kiv::Ptr<Shoal::SharedStore> sharedMemory_;
   ControlPlane::NatControlPlane controlPlane_;
   std::unique_ptr<AgentProcess> agent_;
   std::unique_ptr<Agent::CommandServer> commandServer_;
};

}  // namespace Simulator

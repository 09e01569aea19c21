#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "TesselNat/diagnostics/verify_disagreement.h"
#include "control_plane/nat_control_plane.h"
#include "platform/segment/switch_segment.h"
#include "platform/switch/chip/simulated_chip.h"
#include "platform/switch/sdk/sdk.h"
#include "platform/tables/shoal/shared_store.h"
#include "simulator/switch/agent_control.h"
#include "simulator/switch/agent_host.h"
#include "simulator/switch/agent_supervisor.h"
#include "simulator/switch/audit_text.h"

namespace Simulator {

// A whole switch. What outlives the agent lives here: the switch's segment with the chip and
// the shared tables in it, and the control plane publishing into the tables. The agent
// (framework objects, TCAM managers, the plug-in: an AgentHost) runs in a process of its own,
// started, killed and restarted warm or cold on the same segment, and learns of modules and
// flash downloads through the segment's AgentControl record. A test may host the agent in
// this process instead, on this thread, to look at its objects: the same agent, driven the
// same way, that cannot be killed. Module m is driven by SDK unit m.
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
      // How many entries a new mount of a shared table learns per turn of its process's loop;
      // 0: the whole table at once.
      U32 mountFillPace = 0;
      // The program whose "agent" command runs the agent process; empty: the agent runs in
      // this process.
      std::string agentProgram{};
      // Where the agent process serves its commands; empty: a path of the switch's own.
      std::string commandSocket{};
      // More arguments for the agent process (trace levels).
      std::vector<std::string> agentArguments{};
      // Where the agent process writes its output; empty: on this process's standard error.
      std::string agentOutput{};
   };
   // A crash the switch saw: where it was planned, how the agent went, and whether it was
   // planned at all (else the agent was killed from outside, or died of a fault of its own).
   struct Crash {
      AgentControl::CrashPoint point;
      std::string end;
      bool planned;
   };

   explicit SimulatedSwitch(const Config& config);
   ~SimulatedSwitch();
   SimulatedSwitch(const SimulatedSwitch&) = delete;
   SimulatedSwitch& operator=(const SimulatedSwitch&) = delete;

   // Waits until the agent has nothing left to do and the control plane has read its answers
   // (or until the agent is down, or holds at a planned pause). An agent that died meanwhile is seen (crashes()) and
   // started again warm, unless its crash plan says a step does, or three agents in a row
   // died before they got quiet. Throws std::runtime_error when an agent does not settle
   // within a minute.
   void doSettle();
   // Reads the answers so far and, while more than `inFlight` requests are unanswered, waits
   // for more: a control plane that keeps publishing while the agent works, with a bounded
   // number of requests in flight. An agent hosted in this process works only within
   // doSettle(), which this then is.
   void doCatchUp(std::size_t inFlight);
   // Whether the agent process said it had nothing left to do when the shared tables had
   // counted `changes` changes, having acted on everything the driver asked of it. Answers
   // the control plane read at that count are then the agent's last: the driver may be
   // descheduled between reading the answers and asking this, while the agent answers and
   // gets quiet at a later count.
   bool agentQuietAt(U64 changes) const;
   // The changes the shared tables have counted.
   U64 changes() const { return sharedMemory_->changes(); }

   // Stops the agent and starts it again. Warm: on the same chip, hitless until
   // doFlashDownload(). Cold: the chip is reset and the control plane publishes its rules
   // again.
   void doRestart(bool warm);
   // The two halves of a restart, for whoever measures them apart or acts between them: the
   // agent goes (and with a cold restart the chip's content and the control plane's
   // answers), then it comes back and settles. Stopping an agent that is down only resets.
   void doAgentStop(bool warm);
   void doAgentStart(bool warm);
   bool agentUp() const;
   // The agent's TCAM flash download: the warm phase ends and the previous run's entries go.
   void doFlashDownload();

   // Agent process only. Plans the agent's crash at `point` (after `calls` SDK calls from
   // there) and whether the agent is started again warm at once (else it stays down until
   // doAgentStart()). CrashPoint::none kills it now.
   void crashIs(AgentControl::CrashPoint point, U32 calls, bool restart);
   // The crashes seen since the switch was made.
   const std::vector<Crash>& crashes() const { return crashes_; }
   // Runs `work` each time an agent is stopped or seen dead, before another starts: what it
   // does meets the switch without an agent, however soon the next one comes.
   void whileAgentDownIs(std::function<void()> work) { whileAgentDown_ = std::move(work); }
   // Agent process only. `work` runs at each look doSettle() takes while the agent works,
   // beside it: what traffic meets then.
   void whileAgentWorksIs(std::function<void()> work) { whileAgentWorks_ = std::move(work); }
   // Agent process only. Holds the agent inside its SDK call `calls` from now (once the agent
   // has settled), with the activity lock given up, until pauseEnd(). doSettle() returns once
   // it holds there (agentPaused()), as it does once the agent is quiet without getting there.
   void pauseIs(U32 calls);
   bool agentPaused() const;
   void pauseEnd();
   // Withdraws a planned crash or pause that has not fired.
   void plansEnd();

   // A module inserted finds its unit there (SimulatedChip::unitGoneIs) and empty.
   void moduleIs(U16 module);
   void moduleDel(U16 module);
   const std::set<U16>& modules() const { return config_.modules; }

   // The answer to an agent command, "<command type> <module> [<text>]", as the agent's
   // command socket gives it.
   std::string agentAnswer(const std::string& request);
   // The module's audit, over the rules that name the module: verification expects every
   // shadow key on every module, while the control plane asks each rule of its modules only.
   std::vector<Tessel::VerifyDisagreement> audit(U16 module);
   // Where the module's entries are: those the entry-id table records, those the TCAM manager
   // holds, and those the chip has; the three agree on a settled switch after a flash
   // download.
   struct EntryAccount {
      std::set<U32> recorded;
      std::set<U32> held;
      std::set<U32> onChip;
   };
   EntryAccount entryAccount(U16 module);
   // Both, for every module, from one request of the agent.
   struct ModuleAudit {
      std::vector<Tessel::VerifyDisagreement> disagreements;
      EntryAccount entries;
   };
   std::map<U16, ModuleAudit> moduleAudits();
   // Where the agent process serves its commands.
   const std::string& commandSocket() const { return config_.commandSocket; }

   // The trace facilities of the agent, all made by now so that a program can check and set
   // their levels before the agent starts: the SDK's is made when the program loads, the
   // plug-in's default one on its first use, which this is.
   static std::vector<std::string> traceFacilities();

   // The agent hosted in this process; null with an agent process.
   AgentHost* agentHost() const { return host_.get(); }
   // Of the agent hosted in this process. Null before the mounter made it.
   Kiv::Ptr<Tessel::NatSlaveRootSm> rootSm() const;
   // Null when the module has no programmer (yet).
   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer(U16 module) const;
   Kiv::Ptr<TesselUnboundedTcamEntryManager> natEntryManager() const;

   ::Chip::SimulatedChip& chip() { return chip_; }
   // The segment the chip and the tables live in, which the agent process attaches to.
   const Segment::SwitchSegment& segment() const { return *segment_; }
   ControlPlane::NatControlPlane& controlPlane() { return controlPlane_; }
   const Config& config() const { return config_; }

private:
   void agentStart(bool warm);
   void controlChanged();
   void doSettleHosted();
   // One look of the driver at an agent process: a death is seen, the doorbell answered and
   // the driver's own work run.
   void doLook();
   // Throws when `limit` has passed: the agent did not `what` in time.
   void limitCheck(std::chrono::steady_clock::time_point limit, const char* what) const;
   void crashSeen(bool asked);
   std::map<U16, AuditReport> auditReports(const std::set<U16>& modules);
   std::vector<Tessel::VerifyDisagreement> disagreementsOf(const AuditReport& report, U16 module);
   EntryAccount accountOf(const AuditReport& report, U16 module);

   std::unique_ptr<Segment::SwitchSegment> segment_;
   Config config_;
   AgentControl& control_;
   ::Chip::SimulatedChip chip_;
   std::unique_ptr<Shim::ScopedBackend> backend_;
   Kiv::Ptr<Shoal::SharedStore> sharedMemory_;
   ControlPlane::NatControlPlane controlPlane_;
   std::unique_ptr<AgentSupervisor> supervisor_;
   std::unique_ptr<AgentHost> host_;
   static constexpr int maxDeathsBeforeQuiet = 3;
   bool restartAfterCrash_ = true;
   int deathsBeforeQuiet_ = 0;
   std::vector<Crash> crashes_;
   std::function<void()> whileAgentDown_;
   std::function<void()> whileAgentWorks_;
};

}  // namespace Simulator

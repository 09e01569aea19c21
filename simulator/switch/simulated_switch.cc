#include "simulator/switch/simulated_switch.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "TesselNat/nat_trace.h"
#include "platform/framework/kiv/event_loop.h"
#include "platform/framework/trace/trace_handle.h"
#include "platform/segment/tear_free.h"
#include "platform/tables/shoal/doorbell.h"
#include "simulator/switch/audit_text.h"
#include "simulator/switch/command_client.h"

namespace Simulator {
namespace {

using Segment::atomicLoad;
using Segment::atomicStore;

constexpr std::chrono::seconds settleLimit{60};

::Chip::SimulatedChip::Config chipConfig(const SimulatedSwitch::Config& config) {
   ::Chip::SimulatedChip::Config chip;
   chip.tcamSlotsPerUnit = config.natEntries;
   chip.pipes = config.pipes;
   chip.copiesPerPipe = config.copiesPerPipe;
   return chip;
}

Kiv::Ptr<Shoal::SharedStore> storeIn(Segment::SwitchSegment& segment,
                                     const SimulatedSwitch::Config& config) {
   Kiv::Ptr<Shoal::SharedStore> store = new Shoal::SharedStore(segment);
   store->changeRingEntriesIs(config.changeRingEntries);
   store->mountFillPaceIs(config.mountFillPace);
   return store;
}

AgentControl& controlIn(Segment::SwitchSegment& segment, const SimulatedSwitch::Config& config) {
   AgentControl& control = segment.findOrConstruct<AgentControl>(AgentControl::segmentName);
   control.natEntries = config.natEntries;
   control.pipes = config.pipes;
   control.copiesPerPipe = config.copiesPerPipe;
   control.driverPid = ::getpid();
   control.flashDownloadDone = config.flashDownloadDone ? 1 : 0;
   for (const U16 module : config.modules) control.modulePresent.at(module) = 1;
   return control;
}

SimulatedSwitch::Config withSocket(SimulatedSwitch::Config config,
                                   const Segment::SwitchSegment& segment) {
   if (config.commandSocket.empty() && !config.agentProgram.empty()) {
      const std::string name = segment.name();
      config.commandSocket = (std::filesystem::temp_directory_path() /
                              (name.substr(name.find_first_not_of('/')) + ".sock"))
                                 .string();
   }
   return config;
}

// Hands `request` to `callback` as the command server would, the answer through a file
// rather than a pipe: a dump of thousands of keys would fill a pipe nobody reads.
std::string hostedAnswer(Agent::AgentCommandCallbackBase& callback, const std::string& command) {
   std::FILE* file = std::tmpfile();
   try {
      callback.handleCommand(static_cast<U32>(fileno(file)), command);
   } catch (const std::exception& error) {
      std::fclose(file);
      return "error: " + std::string(error.what()) + "\n";
   }
   std::string text;
   std::rewind(file);
   char buffer[65536];
   for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
   std::fclose(file);
   return text;
}

}  // namespace

SimulatedSwitch::SimulatedSwitch(const Config& config)
    : segment_(
          Segment::SwitchSegment::create(::Chip::SimulatedChip::segmentBytes(chipConfig(config)) +
                                         Shoal::SharedStore::defaultSegmentBytes)),
      config_(withSocket(config, *segment_)),
      control_(controlIn(*segment_, config_)),
      chip_(*segment_, chipConfig(config_)),
      sharedMemory_(storeIn(*segment_, config_)),
      controlPlane_(sharedMemory_, config_.modules) {
   if (config_.agentProgram.empty()) {
      backend_ = std::make_unique<Shim::ScopedBackend>(chip_);
   } else {
      // Made before the agent starts, so that the agent's first ring finds it.
      Shoal::Doorbell::self();
      supervisor_ = std::make_unique<AgentSupervisor>(config_.agentProgram, segment_->name(),
                                                      config_.commandSocket,
                                                      config_.agentArguments,
                                                      config_.agentOutput);
   }
   agentStart(false);
   doSettle();
}

SimulatedSwitch::~SimulatedSwitch() {
   supervisor_.reset();
   host_.reset();
   Kiv::eventLoop().doRunUntilIdle();
}

bool SimulatedSwitch::agentUp() const { return host_ || (supervisor_ && supervisor_->up()); }

void SimulatedSwitch::agentStart(bool warm) {
   // A new agent starts from the driver's part as it is now, and answers requests it has not
   // answered before.
   controlChanged();
   controlPlane_.answersReread();
   if (supervisor_) {
      supervisor_->doStart(warm);
   } else {
      host_ = std::make_unique<AgentHost>(sharedMemory_, control_, warm);
   }
}

void SimulatedSwitch::controlChanged() {
   atomicStore(control_.generation, atomicLoad(control_.generation) + 1,
               std::memory_order_release);
   if (supervisor_ && supervisor_->up()) Shoal::Doorbell::doRing(supervisor_->pid());
}

bool SimulatedSwitch::agentQuietAt(U64 changes) const {
   return supervisor_ && atomicLoad(control_.agentPid) == supervisor_->pid() &&
          atomicLoad(control_.generationSeen) == atomicLoad(control_.generation) &&
          atomicLoad(control_.quietAt, std::memory_order_acquire) == changes;
}

void SimulatedSwitch::doLook() {
   if (supervisor_->doReapDead()) crashSeen(false);
   Shoal::Doorbell::self().doAnswer();
   Kiv::eventLoop().doRunUntilIdle();
}

void SimulatedSwitch::limitCheck(std::chrono::steady_clock::time_point limit,
                                 const char* what) const {
   if (std::chrono::steady_clock::now() <= limit) return;
   throw std::runtime_error(std::string("the agent did not ") + what + " within " +
                            std::to_string(settleLimit.count()) + " s");
}

void SimulatedSwitch::doSettle() {
   if (!supervisor_) {
      doSettleHosted();
      return;
   }
   const auto limit = std::chrono::steady_clock::now() + settleLimit;
   for (;;) {
      doLook();
      const U64 changes = sharedMemory_->changes();
      controlPlane_.doReadAnswers();
      if (sharedMemory_->changes() != changes) continue;
      // Read before the look, which then sees the agent as held, dead or quiet as it is found.
      const bool stopped = !supervisor_->up() || agentPaused();
      const bool quiet = !stopped && agentQuietAt(changes);
      if (whileAgentWorks_) whileAgentWorks_();
      if (stopped) return;
      if (quiet) {
         deathsBeforeQuiet_ = 0;
         return;
      }
      limitCheck(limit, "settle");
      // The agent rings when it is quiet, and the supervisor hears when it dies.
      pollfd wakes[2] = {{Shoal::Doorbell::self().descriptor(), POLLIN, 0},
                         {supervisor_->reportDescriptor(), POLLIN, 0}};
      ::poll(wakes, 2, 10);
   }
}

void SimulatedSwitch::doCatchUp(std::size_t inFlight) {
   if (!supervisor_) {
      doSettleHosted();
      return;
   }
   const auto limit = std::chrono::steady_clock::now() + settleLimit;
   for (;;) {
      doLook();
      controlPlane_.doReadAnswers();
      if (controlPlane_.outstandingRequests() <= inFlight || !supervisor_->up() || agentPaused()) {
         return;
      }
      limitCheck(limit, "catch up");
      // Every answer rings, and each look reads every unanswered request: the look waits for
      // a while's answers instead, or for the agent's death.
      pollfd death = {supervisor_->reportDescriptor(), POLLIN, 0};
      ::poll(&death, 1, 1);
   }
}

void SimulatedSwitch::doSettleHosted() {
   do {
      if (host_) host_->doQuiet(false);
      Kiv::eventLoop().doRunUntilIdle();
      controlPlane_.doReadAnswers();
   } while (Kiv::eventLoop().pendingWork() != 0 ||
            (host_ && atomicLoad(control_.quietAt) != sharedMemory_->changes()));
}

// The agent died: what the SDK kept in its memory died with it, and the plan is spent. A
// supervisor starts it again warm, unless agents keep dying before they ever get quiet,
// which only a fix of the agent mends.
void SimulatedSwitch::crashSeen(bool asked) {
   const auto point = AgentControl::CrashPoint(atomicLoad(control_.crashPoint));
   const bool planned = asked || point != AgentControl::CrashPoint::none;
   crashes_.push_back({point, supervisor_->lastEnd(), planned});
   deathsBeforeQuiet_ = planned ? 0 : deathsBeforeQuiet_ + 1;
   chip_.doSessionEnd();
   if (whileAgentDown_) whileAgentDown_();
   atomicStore(control_.crashPoint, U32(AgentControl::CrashPoint::none));
   atomicStore(control_.pauseCalls, U32{0});
   atomicStore(control_.paused, U32{0});
   atomicStore(control_.plans, atomicLoad(control_.plans) + 1);
   // A plan that leaves the agent down holds for the crash it planned only.
   const bool restart = !planned || restartAfterCrash_;
   restartAfterCrash_ = true;
   if (!restart || deathsBeforeQuiet_ >= maxDeathsBeforeQuiet) return;
   agentStart(true);
}

void SimulatedSwitch::doRestart(bool warm) {
   doAgentStop(warm);
   doAgentStart(warm);
}

void SimulatedSwitch::doAgentStop(bool warm) {
   if (supervisor_) {
      supervisor_->doKill();
      atomicStore(control_.paused, U32{0});
   } else {
      host_.reset();
      // What the stopped agent left queued dies with it.
      Kiv::eventLoop().workDelAll();
   }
   // So do the entries it staged for a flash download that never came.
   chip_.doSessionEnd();
   if (!warm) {
      chip_.doReset();
      controlPlane_.doRepublish();
   }
   if (whileAgentDown_) whileAgentDown_();
}

void SimulatedSwitch::doAgentStart(bool warm) {
   agentStart(warm);
   doSettle();
}

void SimulatedSwitch::doFlashDownload() {
   atomicStore(control_.flashDownloads, atomicLoad(control_.flashDownloads) + 1);
   atomicStore(control_.flashDownloadDone, U32{1});
   controlChanged();
   doSettle();
}

void SimulatedSwitch::crashIs(AgentControl::CrashPoint point, U32 calls, bool restart) {
   if (!supervisor_) throw std::logic_error("an agent in the driver's process cannot crash");
   restartAfterCrash_ = restart;
   if (point == AgentControl::CrashPoint::none) {
      if (!supervisor_->up()) return;
      supervisor_->doKill();
      crashSeen(true);
      doSettle();
      return;
   }
   atomicStore(control_.crashPoint, U32(point));
   atomicStore(control_.crashCalls, calls);
   atomicStore(control_.plans, atomicLoad(control_.plans) + 1);
   controlChanged();
   doSettle();
}

void SimulatedSwitch::pauseIs(U32 calls) {
   if (!supervisor_) throw std::logic_error("an agent in the driver's process cannot pause");
   atomicStore(control_.pauseCalls, calls);
   atomicStore(control_.plans, atomicLoad(control_.plans) + 1);
   controlChanged();
   doSettle();
}

bool SimulatedSwitch::agentPaused() const {
   return atomicLoad(control_.paused, std::memory_order_acquire) != 0;
}

void SimulatedSwitch::pauseEnd() {
   atomicStore(control_.pauseCalls, U32{0});
   atomicStore(control_.paused, U32{0}, std::memory_order_release);
}

void SimulatedSwitch::plansEnd() {
   if (!supervisor_) return;
   atomicStore(control_.crashPoint, U32(AgentControl::CrashPoint::none));
   atomicStore(control_.pauseCalls, U32{0});
   atomicStore(control_.plans, atomicLoad(control_.plans) + 1);
   restartAfterCrash_ = true;
   controlChanged();
   doSettle();
}

void SimulatedSwitch::moduleIs(U16 module) {
   chip_.unitGoneIs(module, false);
   config_.modules.insert(module);
   atomicStore(control_.modulePresent.at(module), U8{1});
   controlChanged();
   doSettle();
   controlPlane_.moduleIs(TesselCentral::ModId(module));
   doSettle();
}

// A module that leaves takes its chip with it, so that a module coming back in its slot
// starts empty.
void SimulatedSwitch::moduleDel(U16 module) {
   config_.modules.erase(module);
   atomicStore(control_.modulePresent.at(module), U8{0});
   controlChanged();
   controlPlane_.moduleDel(TesselCentral::ModId(module));
   doSettle();
   chip_.doUnitReset(module);
}

std::string SimulatedSwitch::agentAnswer(const std::string& request) {
   if (supervisor_) return Simulator::agentAnswer(config_.commandSocket, request);
   const std::size_t space = request.find(' ');
   const std::string type = request.substr(0, space);
   const std::string command = space == std::string::npos ? "" : request.substr(space + 1);
   if (host_ && type == host_->commandCallback()->commandType()) {
      return hostedAnswer(*host_->commandCallback(), command);
   }
   if (host_ && type == AgentHost::auditCommandType) {
      return hostedAnswer(*host_->auditCallback(), command);
   }
   return "error: no agent answers command type '" + type + "'\n";
}

std::vector<std::string> SimulatedSwitch::traceFacilities() {
   Tessel::natTrace();
   return Kiv::traceFacilities();
}

std::map<U16, AuditReport> SimulatedSwitch::auditReports(const std::set<U16>& modules) {
   std::string request = AgentHost::auditCommandType;
   for (const U16 module : modules) request.append(1, ' ').append(std::to_string(module));
   const std::string answer = agentAnswer(request);
   if (answer.rfind("error: ", 0) == 0) throw std::runtime_error("audit: " + answer);
   return auditReportsOf(answer);
}

SimulatedSwitch::EntryAccount SimulatedSwitch::entryAccount(U16 module) {
   return accountOf(auditReports({module}).at(module), module);
}

std::vector<Tessel::VerifyDisagreement> SimulatedSwitch::audit(U16 module) {
   return disagreementsOf(auditReports({module}).at(module), module);
}

std::map<U16, SimulatedSwitch::ModuleAudit> SimulatedSwitch::moduleAudits() {
   std::map<U16, ModuleAudit> audits;
   for (const auto& [module, report] : auditReports(config_.modules)) {
      audits.emplace(module, ModuleAudit{disagreementsOf(report, module), accountOf(report, module)});
   }
   return audits;
}

SimulatedSwitch::EntryAccount SimulatedSwitch::accountOf(const AuditReport& report, U16 module) {
   EntryAccount account{{report.recordedEntries.begin(), report.recordedEntries.end()},
                        {report.heldEntries.begin(), report.heldEntries.end()},
                        {}};
   for (U32 id = 1; id <= 2 * config_.natEntries; ++id) {
      if (chip_.entry(module, id)) account.onChip.insert(id);
   }
   return account;
}

std::vector<Tessel::VerifyDisagreement> SimulatedSwitch::disagreementsOf(
    const AuditReport& report, U16 module) {
   const ControlPlane::NatControlPlane& controlPlane = controlPlane_;
   const auto names = [&](const Ember::NatHwKey& key) {
      bool found = false;
      const U32 uid = controlPlane.hwKeyUidTable()->safeLookup(key, found).uid();
      if (!found || !controlPlane.ruleHas(TesselNat::Uid(uid))) return false;
      const std::vector<TesselCentral::ModId>& modules =
          controlPlane.rule(TesselNat::Uid(uid)).modules;
      return std::find(modules.begin(), modules.end(), TesselCentral::ModId(module)) !=
             modules.end();
   };
   constexpr const char* countCheck = "entryIdTables() == shadow()->entrys()";
   std::vector<Tessel::VerifyDisagreement> found = report.disagreements;
   std::erase_if(found, [&](const Tessel::VerifyDisagreement& disagreement) {
      return disagreement.check == countCheck || !names(disagreement.key);
   });
   U32 keys = 0;
   for (const Ember::NatHwKey& key : controlPlane.shadowKeys()) keys += names(key) ? 1 : 0;
   U32 recorded = 0;
   for (const Ember::NatHwKey& key : report.recordedKeys) recorded += names(key) ? 1 : 0;
   if (keys != recorded) found.insert(found.begin(), {countCheck, {}, 0, 0, keys, recorded});
   return found;
}

Kiv::Ptr<Tessel::NatSlaveRootSm> SimulatedSwitch::rootSm() const {
   return host_ ? host_->rootSm() : nullptr;
}

Kiv::Ptr<Tessel::NatSlaveProgrammerSm> SimulatedSwitch::programmer(U16 module) const {
   const Kiv::Ptr<Tessel::NatSlaveRootSm> root = rootSm();
   return root ? root->natSlaveProgrammerSm(TesselCentral::ModId(module)) : nullptr;
}

Kiv::Ptr<TesselUnboundedTcamEntryManager> SimulatedSwitch::natEntryManager() const {
   return host_ ? host_->natEntryManager() : nullptr;
}

}  // namespace Simulator

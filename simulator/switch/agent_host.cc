#include "simulator/switch/agent_host.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <thread>

#include "TesselNat/programmer/nat_entry_constants.h"
#include "TesselNat/tessel_nat_library.h"
#include "platform/framework/kiv/event_loop.h"
#include "platform/segment/tear_free.h"
#include "platform/switch/sdk/sdk.h"
#include "platform/tables/shoal/doorbell.h"
#include "simulator/switch/audit_text.h"

namespace Simulator {
namespace {

using Segment::atomicLoad;
using Segment::atomicStore;

constexpr U32 natGroup = 1;
// The flash-download step the NAT programmer waits for.
constexpr TcamFlashDownloadReq natFlashDownload = 3;

std::set<U16> presentModules(const AgentControl& control) {
   std::set<U16> modules;
   for (U32 module = 0; module < AgentControl::maxModules; ++module) {
      if (atomicLoad(control.modulePresent[module]) != 0) modules.insert(static_cast<U16>(module));
   }
   return modules;
}

// Writes all of `text` to the command's answer descriptor.
void writeAll(int fd, const std::string& text) {
   for (std::size_t done = 0; done < text.size();) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error("the audit could not be written");
      done += static_cast<std::size_t>(n);
   }
}

// Answers the audit command: per module it names, the module's verification, what its
// entry-id table records and what its TCAM manager holds.
class AuditCallback : public Agent::AgentCommandCallbackBase {
public:
   explicit AuditCallback(const AgentHost& host)
       : AgentCommandCallbackBase("natAudit", AgentHost::auditCommandType), host_(host) {}

   void handleCommand(U32 socket, Kiv::String command) override {
      std::istringstream modules(command);
      std::string text;
      for (unsigned long module; modules >> module;) {
         if (module >= AgentControl::maxModules) throw std::runtime_error("no such module");
         text += auditText(static_cast<U16>(module), reportOf(static_cast<U16>(module)));
      }
      if (!modules.eof()) throw std::runtime_error("an audit names its modules by number");
      writeAll(static_cast<int>(socket), text);
   }

private:
   AuditReport reportOf(U16 module) const {
      const Kiv::Ptr<Tessel::NatSlaveRootSm> root = host_.rootSm();
      const Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer =
          root ? root->natSlaveProgrammerSm(TesselCentral::ModId(module)) : nullptr;
      AuditReport report;
      if (programmer) {
         report.disagreements = programmer->doAudit();
         programmer->entryIdTableForEach([&](const Tessel::EntryIdTableEntry& entry) {
            report.recordedKeys.push_back(entry.key());
            for (const auto& [vlan, id] : entry.defaultEntryIdMap()) {
               report.recordedEntries.push_back(id);
            }
            for (const auto& [vlan, id] : entry.fragEntryIdMap()) {
               report.recordedEntries.push_back(id);
            }
         });
      }
      for (const U32 id : host_.natEntryManager()->entriesHeld(module)) {
         report.heldEntries.push_back(id);
      }
      return report;
   }

   const AgentHost& host_;
};

}  // namespace

// Hears the mount group turn ready before the root does, whose commit pass follows at once.
class AgentHost::ReadyReactor : public KivSharedMem::MountGroup::Notifiee {
public:
   ReadyReactor(AgentHost& host, const Kiv::Ptr<KivSharedMem::MountGroup>& group) : host_(host) {
      notifierIs(group);
      isActiveIs(true);
   }

   void onReady() override {
      const AgentControl& control = host_.control_;
      if (atomicLoad(control.crashPoint) != U32(AgentControl::CrashPoint::commitPass)) return;
      host_.commitPassCrash_ = true;
      Shim::sdk_.faultInjector().afterNthCallIs(std::max<U32>(1, atomicLoad(control.crashCalls)),
                                                &AgentHost::die);
   }

private:
   AgentHost& host_;
};

AgentHost::AgentHost(const Kiv::Ptr<Shoal::SharedStore>& store, AgentControl& control, bool warm)
    : control_(control),
      store_(store),
      entityManager_(new KivShoal::EntityManager("agent", store)),
      scsd_(new TesselCommonSmData("tesselCommon")),
      generationSeen_(atomicLoad(control.generation, std::memory_order_acquire)),
      flashDownloadsSeen_(atomicLoad(control.flashDownloads)),
      modules_(presentModules(control)) {
   const U32 entries = atomicLoad(control.natEntries);
   groups_ = new TesselTcamGroupManager(
       entries, warm ? TesselTcamGroupManager::Start::warm : TesselTcamGroupManager::Start::cold,
       std::vector<U16>(modules_.begin(), modules_.end()));
   groups_->unboundedEntryManagerIs({Tessel::natTcamGroupAssignment, natGroup, entries,
                                     static_cast<U8>(atomicLoad(control.pipes)),
                                     static_cast<U8>(atomicLoad(control.copiesPerPipe))});
   for (const U16 module : modules_) scsd_->moduleToUnitIs(TesselCentral::ModId(module), module);
   scsd_->hitlessInitIs(warm);
   scsd_->flashDownloadWaitIs(natFlashDownload, !warm && atomicLoad(control.flashDownloadDone));
   loader_ = std::make_unique<Plugin::Loader>(entityManager_);
   loader_->sharedEntityIs("tcamManager", groups_);
   loader_->sharedEntityIs("tesselCommon", scsd_);
   loader_->libraryIs(Tessel::tesselNatLibrary, &Tessel::tesselNatLibraryLoad);
   readyReactor_ = std::make_unique<ReadyReactor>(*this, entityManager_->getMountGroup());
   mounter_ = Kiv::ptrCast<Tessel::NatMounter>(loader_->mounterIs("Tessel::NatMounter", pluginName));
   callback_ = loader_->commandCallbackIs("Tessel::NatCliCallback", pluginName);
   audit_ = new AuditCallback(*this);
   atomicStore(control.agentPid, ::getpid());
   plansFollow();
   mounter_->doInit();
}

// The callback and the mounter (with the root and programmers) go before what they use, the
// status directories with the entity manager.
AgentHost::~AgentHost() {
   Shim::sdk_.faultInjector().afterNthCallIs(1, nullptr);
   audit_ = nullptr;
   callback_ = nullptr;
   mounter_ = nullptr;
   readyReactor_.reset();
   loader_.reset();
}

Kiv::Ptr<TesselUnboundedTcamEntryManager> AgentHost::natEntryManager() const {
   return groups_->unboundedEntryManager(Tessel::natTcamGroupAssignment);
}

// Until a pass over everything finds no change made meanwhile: the quiet point the driver
// waits for is then the store's change count from before the pass.
void AgentHost::doQuiet(bool ringDriver) {
   for (;;) {
      const U64 changes = store_->changes();
      doFollowControl();
      Shoal::Doorbell::self().doAnswer();
      Kiv::eventLoop().doRunUntilIdle();
      // The commit pass ran within the work that found the mount group ready.
      if (commitPassCrash_ && entityManager_->getMountGroup()->ready()) die();
      if (store_->changes() != changes ||
          atomicLoad(control_.generation, std::memory_order_acquire) != generationSeen_) {
         continue;
      }
      atomicStore(control_.generationSeen, generationSeen_);
      atomicStore(control_.quietAt, changes, std::memory_order_release);
      break;
   }
   if (ringDriver) Shoal::Doorbell::doRing(atomicLoad(control_.driverPid));
}

void AgentHost::doFollowControl() {
   const U32 generation = atomicLoad(control_.generation, std::memory_order_acquire);
   if (generation == generationSeen_) return;
   generationSeen_ = generation;
   plansFollow();
   modulesFollow();
   if (atomicLoad(control_.flashDownloads) != flashDownloadsSeen_) {
      flashDownloadsSeen_ = atomicLoad(control_.flashDownloads);
      doFlashDownload();
   }
}

// The agent makes a module's programmer when the module comes. A module that leaves takes its
// chip with it, so what its TCAM held goes back to the manager once its programmer is gone.
void AgentHost::modulesFollow() {
   const std::set<U16> present = presentModules(control_);
   for (const U16 module : present) {
      if (!modules_.contains(module)) scsd_->moduleToUnitIs(TesselCentral::ModId(module), module);
   }
   for (const U16 module : modules_) {
      if (present.contains(module)) continue;
      scsd_->moduleToUnitDel(TesselCentral::ModId(module));
      Kiv::eventLoop().doRunUntilIdle();
      const Kiv::Ptr<TesselUnboundedTcamEntryManager> entries = natEntryManager();
      for (const U32 entryId : entries->entriesHeld(module)) entries->freeEntry(module, entryId);
   }
   modules_ = present;
}

// The warm phase ends and the previous run's entries go.
void AgentHost::doFlashDownload() {
   const bool crash =
       atomicLoad(control_.crashPoint) == U32(AgentControl::CrashPoint::flashDownload);
   if (crash) {
      Shim::sdk_.faultInjector().afterNthCallIs(std::max<U32>(1, atomicLoad(control_.crashCalls)),
                                                &AgentHost::die);
   }
   groups_->doFlashDownload();
   if (crash) die();
   scsd_->flashDownloadWaitIs(natFlashDownload, true);
   scsd_->hitlessInitIs(false);
}

void AgentHost::plansFollow() {
   const U32 plans = atomicLoad(control_.plans);
   if (plans == plansSeen_) return;
   plansSeen_ = plans;
   Shim::FaultInjector& faults = Shim::sdk_.faultInjector();
   if (atomicLoad(control_.crashPoint) == U32(AgentControl::CrashPoint::sdkCall)) {
      faults.afterNthCallIs(std::max<U32>(1, atomicLoad(control_.crashCalls)), &AgentHost::die);
   } else if (const U32 calls = atomicLoad(control_.pauseCalls); calls != 0) {
      faults.afterNthCallIs(calls, [this] { doPause(); });
   } else {
      faults.afterNthCallIs(1, nullptr);
   }
}

// As a crash kills a process: at once, and no destructor runs.
void AgentHost::die() {
   ::kill(::getpid(), SIGKILL);
   for (;;) ::pause();
}

// Inside the SDK call, with the activity lock given up, as an agent waits on a slow chip.
void AgentHost::doPause() {
   atomicStore(control_.paused, U32{1}, std::memory_order_release);
   Shoal::Doorbell::doRing(atomicLoad(control_.driverPid));
   while (atomicLoad(control_.paused, std::memory_order_acquire) != 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
   }
}

}  // namespace Simulator

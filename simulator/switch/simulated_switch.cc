#include "simulator/switch/simulated_switch.h"

#include <algorithm>

#include "TesselNat/nat_trace.h"
#include "TesselNat/programmer/nat_entry_constants.h"
#include "TesselNat/tessel_nat_library.h"
#include "platform/framework/kiv/event_loop.h"
#include "platform/framework/trace/trace_handle.h"

namespace Simulator {
namespace {

constexpr U32 natGroup = 1;
// The flash-download step the NAT programmer waits for.
constexpr TcamFlashDownloadReq natFlashDownload = 3;

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
   return store;
}

}  // namespace

// One run of the agent process, built as the agent builds itself: shared objects published,
// the plug-in library loaded, its mounter and command callback created by type name, and the
// mounter initialised. Members go in reverse: the callback and the mounter (with the root
// and programmers) before what they use, the status directories with the entity manager.
struct SimulatedSwitch::AgentProcess {
   AgentProcess(const SimulatedSwitch::Config& config,
                const Kiv::Ptr<Shoal::SharedStore>& sharedMemory, bool warm)
       : entityManager(new KivShoal::EntityManager("agent", sharedMemory)),
         scsd(new TesselCommonSmData("tesselCommon")),
         groups(new TesselTcamGroupManager(
             config.natEntries,
             warm ? TesselTcamGroupManager::Start::warm : TesselTcamGroupManager::Start::cold,
             std::vector<U16>(config.modules.begin(), config.modules.end()))),
         loader(entityManager) {
      groups->unboundedEntryManagerIs({Tessel::natTcamGroupAssignment, natGroup, config.natEntries,
                                       config.pipes, config.copiesPerPipe});
      for (U16 module : config.modules) scsd->moduleToUnitIs(TesselCentral::ModId(module), module);
      scsd->hitlessInitIs(warm);
      scsd->flashDownloadWaitIs(natFlashDownload, !warm && config.flashDownloadDone);
      loader.sharedEntityIs("tcamManager", groups);
      loader.sharedEntityIs("tesselCommon", scsd);
      loader.libraryIs(Tessel::tesselNatLibrary, &Tessel::tesselNatLibraryLoad);
      mounter = Kiv::ptrCast<Tessel::NatMounter>(loader.mounterIs("Tessel::NatMounter", name));
      callback = loader.commandCallbackIs("Tessel::NatCliCallback", name);
      mounter->doInit();
   }

   static constexpr const char* name = "TesselNat";
   Kiv::Ptr<KivShoal::EntityManager> entityManager;
   Kiv::Ptr<TesselCommonSmData> scsd;
   Kiv::Ptr<TesselTcamGroupManager> groups;
   Plugin::Loader loader;
   Kiv::Ptr<Tessel::NatMounter> mounter;
   Kiv::Ptr<TesselCommon::AgentCommandCallback> callback;
};

SimulatedSwitch::SimulatedSwitch(const Config& config)
    : config_(config),
      segment_(
          Segment::SwitchSegment::create(::Chip::SimulatedChip::segmentBytes(chipConfig(config)) +
                                         Shoal::SharedStore::defaultSegmentBytes)),
      chip_(*segment_, chipConfig(config)),
      backend_(chip_),
      sharedMemory_(storeIn(*segment_, config)),
      controlPlane_(sharedMemory_, config.modules) {
   agentStart(false);
   doSettle();
}

SimulatedSwitch::~SimulatedSwitch() {
   commandServer_.reset();
   agent_.reset();
   Kiv::eventLoop().doRunUntilIdle();
}

void SimulatedSwitch::doSettle() {
   do {
      Kiv::eventLoop().doRunUntilIdle();
      controlPlane_.doReadAnswers();
   } while (Kiv::eventLoop().pendingWork() != 0);
}

void SimulatedSwitch::agentStart(bool warm) {
   agent_ = std::make_unique<AgentProcess>(config_, sharedMemory_, warm);
   if (commandServer_) commandServer_->callbackIs(agent_->callback);
}

void SimulatedSwitch::doRestart(bool warm) {
   doAgentStop(warm);
   doAgentStart(warm);
}

void SimulatedSwitch::doAgentStop(bool warm) {
   if (commandServer_) commandServer_->callbackDel(agent_->callback->commandType());
   agent_.reset();
   // What the dead agent left queued dies with it, and so do its staged entries.
   Kiv::eventLoop().workDelAll();
   chip_.doSessionEnd();
   if (!warm) {
      chip_.doReset();
      controlPlane_.doRepublish();
   }
}

void SimulatedSwitch::doAgentStart(bool warm) {
   agentStart(warm);
   controlPlane_.answersReread();
   doSettle();
}

void SimulatedSwitch::doFlashDownload() {
   agent_->groups->doFlashDownload();
   agent_->scsd->flashDownloadWaitIs(natFlashDownload, true);
   agent_->scsd->hitlessInitIs(false);
   doSettle();
}

// The agent makes the module's programmer first; the control plane then asks the card for
// the rules that name it.
void SimulatedSwitch::moduleIs(U16 module) {
   config_.modules.insert(module);
   agent_->scsd->moduleToUnitIs(TesselCentral::ModId(module), module);
   doSettle();
   controlPlane_.moduleIs(TesselCentral::ModId(module));
   doSettle();
}

// A module that leaves takes its chip with it: the platform releases what the module's TCAM
// held, so that a module coming back in its slot starts empty.
void SimulatedSwitch::moduleDel(U16 module) {
   config_.modules.erase(module);
   agent_->scsd->moduleToUnitDel(TesselCentral::ModId(module));
   controlPlane_.moduleDel(TesselCentral::ModId(module));
   doSettle();
   const Kiv::Ptr<TesselUnboundedTcamEntryManager> entries = natEntryManager();
   for (const U32 entryId : entries->entriesHeld(module)) entries->freeEntry(module, entryId);
   chip_.doUnitReset(module);
}

void SimulatedSwitch::commandServerIs(std::unique_ptr<Agent::CommandServer> server) {
   commandServer_ = std::move(server);
   commandServer_->callbackIs(agent_->callback);
}

std::vector<std::string> SimulatedSwitch::traceFacilities() {
   Tessel::natTrace();
   return Kiv::traceFacilities();
}

std::vector<Tessel::VerifyDisagreement> SimulatedSwitch::audit(U16 module) const {
   const Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = this->programmer(module);
   if (!programmer) return {};
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
   std::vector<Tessel::VerifyDisagreement> found = programmer->doAudit();
   std::erase_if(found, [&](const Tessel::VerifyDisagreement& disagreement) {
      return disagreement.check == countCheck || !names(disagreement.key);
   });
   U32 keys = 0;
   for (const Ember::NatHwKey& key : controlPlane.shadowKeys()) keys += names(key) ? 1 : 0;
   U32 recorded = 0;
   programmer->entryIdTableForEach(
       [&](const Tessel::EntryIdTableEntry& entry) { recorded += names(entry.key()) ? 1 : 0; });
   if (keys != recorded) found.insert(found.begin(), {countCheck, {}, 0, 0, keys, recorded});
   return found;
}

const Kiv::Ptr<TesselCommon::AgentCommandCallback>& SimulatedSwitch::commandCallback() const {
   return agent_->callback;
}

Kiv::Ptr<Tessel::NatSlaveRootSm> SimulatedSwitch::rootSm() const {
   return agent_->mounter->rootSm();
}

Kiv::Ptr<Tessel::NatSlaveProgrammerSm> SimulatedSwitch::programmer(U16 module) const {
   const Kiv::Ptr<Tessel::NatSlaveRootSm> root = rootSm();
   return root ? root->natSlaveProgrammerSm(TesselCentral::ModId(module)) : nullptr;
}

Kiv::Ptr<TesselUnboundedTcamEntryManager> SimulatedSwitch::natEntryManager() const {
   return agent_->groups->unboundedEntryManager(Tessel::natTcamGroupAssignment);
}

}  // namespace Simulator

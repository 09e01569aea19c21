#include "TesselNat/agent/nat_slave_root_sm.h"

#include "TesselNat/agent/nat_table_paths.h"
#include "TesselNat/nat_trace.h"
#include "platform/framework/kiv/constructor_argument.h"
#include "platform/framework/sentry/exception.h"
#include "platform/framework/trace/dual_trace.h"

namespace Tessel {

Kiv::Ptr<NatSlaveRootSm> NatSlaveRootSm::NatSlaveRootSmIs(
    const Kiv::Ptr<const TesselCommonSmData>& scsd,
    const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager,
    const Kiv::Ptr<const KivSharedMem::MountGroup>& mountGroup,
    const Kiv::Ptr<KivShoal::EntityManager>& shoalEntityManager) {
   Kiv::Ptr<NatSlaveRootSm> root(
       new NatSlaveRootSm(scsd, tcamGroupManager, mountGroup, shoalEntityManager));
   root->hasNotificationActiveIs(true);
   return root;
}

NatSlaveRootSm::NatSlaveRootSm(const Kiv::Ptr<const TesselCommonSmData>& scsd,
                               const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager,
                               const Kiv::Ptr<const KivSharedMem::MountGroup>& mountGroup,
                               const Kiv::Ptr<KivShoal::EntityManager>& shoalEntityManager)
    : scsd_(scsd) {
   if (scsd_) {
      scsdReactor_ = new ScsdReactor(this, scsd_);
      scsdReactor_->isActiveIs(true);
   }
   tcamGroupManager_ = tcamGroupManager;
   mountGroup_ = mountGroup;
   if (mountGroup_) {
      mountGroupReactor_ = new MountGroupReactor(this, mountGroup_);
      mountGroupReactor_->isActiveIs(true);
   }
   shoalEntityManager_ = shoalEntityManager;
   handleModule();
}

NatSlaveRootSm::~NatSlaveRootSm() {
   deletedIs();
   if (scsdReactor_) scsdReactor_->ownerIs(nullptr);
   if (mountGroupReactor_) mountGroupReactor_->ownerIs(nullptr);
   natSlaveProgrammerSmDelAll();
   shoalEntityManager_ = nullptr;
   mountGroupReactor_ = nullptr;
   tcamGroupManager_ = nullptr;
   scsdReactor_ = nullptr;
}

void NatSlaveRootSm::deletedIs() {
   if (scsdReactor_) scsdReactor_->deletedIs();
   if (mountGroupReactor_) mountGroupReactor_->deletedIs();
   Kiv::PtrInterface::deletedIs();
}

void NatSlaveRootSm::scsdIs(const Kiv::Ptr<const TesselCommonSmData>& scsd) {
   if (scsd == scsd_) return;
   scsd_ = scsd;
   if (!scsd_) {
      if (scsdReactor_) {
         scsdReactor_->deletedIs();
         scsdReactor_->ownerIs(nullptr);
      }
      scsdReactor_ = nullptr;
   } else if (scsdReactor_) {
      scsdReactor_->notifierIs(scsd_);
   } else {
      scsdReactor_ = new ScsdReactor(this, scsd_);
      if (deleted()) scsdReactor_->deletedIs();
      scsdReactor_->isActiveIs(true);
   }
}

void NatSlaveRootSm::mountGroupIs(const Kiv::Ptr<const KivSharedMem::MountGroup>& mountGroup) {
   if (mountGroup == mountGroup_) return;
   mountGroup_ = mountGroup;
   if (!mountGroup_) {
      if (mountGroupReactor_) {
         mountGroupReactor_->deletedIs();
         mountGroupReactor_->ownerIs(nullptr);
      }
      mountGroupReactor_ = nullptr;
   } else if (mountGroupReactor_) {
      mountGroupReactor_->notifierIs(mountGroup_);
      handleMountGroupReady();
   } else {
      mountGroupReactor_ = new MountGroupReactor(this, mountGroup_);
      if (deleted()) mountGroupReactor_->deletedIs();
      mountGroupReactor_->isActiveIs(true);
   }
}

// The mounter supplies the shared state, the mount group and the configuration directory
// before it creates the root; without them there is nothing to do, and it is skipped.
void NatSlaveRootSm::handleModule() {
   KIV_DUAL_TRACE(natTrace(), traceStep, "NatSlaveRootSm::handleModule");
   if (!scsd_) return;
   for (const TesselCentral::ModId modId : scsd_->moduleToUnitKeys()) handleModule(modId);
}

void NatSlaveRootSm::handleModule(TesselCentral::ModId modId) {
   KIV_DUAL_TRACE(natTrace(), traceStep, "NatSlaveRootSm::handleModule{}", modId.value());
   if (!scsd_) return;
   bool found = false;
   scsd_->moduleToUnit(modId, found);
   if (!found) {
      natSlaveProgrammerSmDel(modId);
      return;
   }
   KivShoal::MountInfo mountInfo(KivShoal::KivShoalType::writer);
   mountInfo.collectionInfoIs({quillStatusCollection, quillStatusCollectionSize});
   const Kiv::String statusPath = Kiv::format(quillShoalStatusDirPathFormat, modId.value());
   shoalEntityManager_->doMount(statusPath, Quill::QuillShoalStatusDir::typeName, mountInfo);

   const auto entity = [&](const char* path) { return shoalEntityManager_->getEntity(path); };
   const auto ingModSetDir = Kiv::ptrCast<const TesselNat::ModSetDir>(entity(ingModSetDirPath));
   const auto hwKeyUidTable =
       Kiv::ptrCast<const TesselNat::HwKeyUidTable>(entity(hwKeyUidTablePath));
   const auto uidHwKeyTable =
       Kiv::ptrCast<const TesselNat::UidHwKeyTable>(entity(uidHwKeyTablePath));
   const auto shadow = Kiv::ptrCast<const Ember::NatHwShadow>(entity(hwShadowPath));
   const auto statusDir = Kiv::ptrCast<Quill::QuillShoalStatusDir>(entity(statusPath.c_str()));
   const auto configDir =
       Kiv::ptrCast<const Quill::QuillShoalConfigDir>(entity(quillShoalConfigDirPath));
   natSlaveProgrammerSmIs(configDir, statusDir, shadow, uidHwKeyTable, hwKeyUidTable, ingModSetDir,
                          modId, tcamGroupManager_, scsd_);
}

Kiv::Ptr<NatSlaveProgrammerSm> NatSlaveRootSm::natSlaveProgrammerSmIs(
    const Kiv::Ptr<const Quill::QuillShoalConfigDir>& quillShoalConfigDir,
    const Kiv::Ptr<Quill::QuillShoalStatusDir>& quillShoalStatusDir,
    const Kiv::Ptr<const Ember::NatHwShadow>& shadow,
    const Kiv::Ptr<const TesselNat::UidHwKeyTable>& uidHwKeyTable,
    const Kiv::Ptr<const TesselNat::HwKeyUidTable>& hwKeyUidTable,
    const Kiv::Ptr<const TesselNat::ModSetDir>& ingModSetDir, TesselCentral::ModId modId,
    const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager,
    const Kiv::Ptr<const TesselCommonSmData>& scsd) {
   if (Kiv::Ptr<NatSlaveProgrammerSm> existing = programmers_.member(modId)) {
      Kiv::requireSameConstructorArgument("quillShoalConfigDir", quillShoalConfigDir,
                                          existing->quillShoalConfigDir());
      Kiv::requireSameConstructorArgument("quillShoalStatusDir", quillShoalStatusDir,
                                          existing->quillShoalStatusDir());
      Kiv::requireSameConstructorArgument("shadow", shadow, existing->shadow());
      Kiv::requireSameConstructorArgument("uidHwKeyTable", uidHwKeyTable,
                                          existing->uidHwKeyTable());
      Kiv::requireSameConstructorArgument("hwKeyUidTable", hwKeyUidTable,
                                          existing->hwKeyUidTable());
      Kiv::requireSameConstructorArgument("ingModSetDir", ingModSetDir, existing->ingModSetDir());
      Kiv::requireSameConstructorArgument("tcamGroupManager", tcamGroupManager,
                                          existing->tcamGroupManager());
      Kiv::requireSameConstructorArgument("scsd", scsd, existing->scsd());
      return existing;
   }
   Kiv::Ptr<NatSlaveProgrammerSm> programmer = NatSlaveProgrammerSm::NatSlaveProgrammerSmIs(
       quillShoalConfigDir, quillShoalStatusDir, shadow, uidHwKeyTable, hwKeyUidTable, ingModSetDir,
       modId, tcamGroupManager, scsd);
   programmers_.memberIs(modId, programmer);
   programmer->hasNotificationActiveIs(true);
   return programmer;
}

Kiv::Ptr<NatSlaveProgrammerSm> NatSlaveRootSm::natSlaveProgrammerSmDel(TesselCentral::ModId modId) {
   return programmers_.memberDel(modId);
}

void NatSlaveRootSm::natSlaveProgrammerSmDelAll() {
   for (auto walk = programmers_.walk(); !walk.done(); walk.next()) {
      natSlaveProgrammerSmDel(walk.key());
   }
}

void NatSlaveRootSm::hasNotificationActiveIs(bool active) {
   if (active == hasNotificationActive()) return;
   Kiv::PtrInterface::hasNotificationActiveIs(active);
   if (scsdReactor_) scsdReactor_->isActiveIs(active);
   if (mountGroupReactor_) mountGroupReactor_->isActiveIs(active);
   for (auto walk = programmers_.walk(); !walk.done(); walk.next()) {
      walk.current()->hasNotificationActiveIs(active);
   }
}

void NatSlaveRootSm::handleMountGroupReady() {
   const bool ready = mountGroup_ && mountGroup_->ready();
   KIV_DUAL_TRACE(natTrace(), traceStep, "handleMountGroupReady ready {}", ready);
   if (!ready) return;
   // Commits release the lock during their SDK calls: the walk holds its programmer and
   // survives changes of the collection.
   for (auto walk = programmers_.walk(); !walk.done(); walk.next()) {
      const Kiv::Ptr<NatSlaveProgrammerSm> programmer = walk.current();
      commitUnanswered(*programmer);
   }
}

// A request needs an answer when its status is missing (read as all zero) or echoes another
// value. A corrupt read is reported to its table: the walk then starts empty or ends, a
// lookup reads the table's default record.
void NatSlaveRootSm::commitUnanswered(NatSlaveProgrammerSm& programmer) {
   const Kiv::Ptr<const Quill::QuillShoalConfigDir> configDir = programmer.quillShoalConfigDir();
   if (!configDir) return;
   Quill::QuillShoalKey key;
   Shoal::IterHint hint;
   bool more = false;
   try {
      more = configDir->first(key, hint);
   } catch (const Sentry::CorruptionDetectedException& e) {
      configDir->doCorruptionDetected(e.msg());
   }
   while (more) {
      bool found = false;
      const Quill::QuillShoalConfig config = configDir->safeLookup(key, found);
      const Kiv::Ptr<Quill::QuillShoalStatusDir> statusDir = programmer.quillShoalStatusDir();
      const Quill::QuillShoalStatus status = statusDir->safeLookup(key, found);
      if (status == Quill::QuillShoalStatus() || status.reqVersion() != config.reqVersion()) {
         programmer.doCommitHwConfig(TesselNat::Uid(config.key().uid()));
      }
      try {
         more = configDir->next(key, hint);
      } catch (const Sentry::CorruptionDetectedException& e) {
         configDir->doCorruptionDetected(e.msg());
         more = false;
      }
   }
}

Kiv::Ptr<Kiv::TypeNode> NatSlaveRootSm::typeNode() {
   static const Kiv::Ptr<Kiv::TypeNode> node = [] {
      using R = NatSlaveRootSm;
      Kiv::Ptr<Kiv::TypeNode> type(new Kiv::TypeNode("Tessel::NatSlaveRootSm"));
      type->attributeIs(Kiv::attribute("scsd", &R::scsd));
      type->attributeIs(Kiv::attribute("tcamGroupManager", &R::tcamGroupManager));
      type->attributeIs(Kiv::attribute("mountGroup", &R::mountGroup));
      type->operationIs(Kiv::operation("handleMountGroupReady", &R::handleMountGroupReady));
      type->attributeIs(Kiv::attribute("shoalEntityManager", &R::shoalEntityManager));
      type->operationIs(Kiv::operation(
          "handleModule", static_cast<void (R::*)(TesselCentral::ModId)>(&R::handleModule)));
      type->collectionIs(Kiv::collection("natSlaveProgrammerSm", &R::natSlaveProgrammerSm,
                                         &R::natSlaveProgrammerSmIs, &R::natSlaveProgrammerSmDel));
      // The setters, for the generic interface only.
      type->operationIs(Kiv::operation("scsdIs", &R::scsdIs));
      type->operationIs(Kiv::operation("scsdDel", &R::scsdDel));
      type->operationIs(Kiv::operation("mountGroupIs", &R::mountGroupIs));
      type->operationIs(Kiv::operation("mountGroupDel", &R::mountGroupDel));
      return type;
   }();
   return node;
}

}  // namespace Tessel

#include "TesselNat/agent/nat_mounter.h"

#include "TesselNat/agent/nat_table_paths.h"
#include "TesselNat/nat_trace.h"
#include "platform/framework/trace/dual_trace.h"
#include "platform/records/ember/nat_hw_shadow.h"
#include "platform/records/quill/quill_shoal_dirs.h"
#include "platform/records/tessel_nat/uid_tables.h"

namespace Tessel {

NatMounter::NatMounter(Kiv::Name name) : MounterBase(std::move(name)) {}

NatMounter::~NatMounter() { rootSmDel(); }

// The mounts complete later, through the framework's loop; the root watches the group's
// ready flag for them.
void NatMounter::doInit() {
   KIV_DUAL_TRACE(natTrace(), traceStep, "NatMounter::doInit");
   const Kiv::Ptr<KivShoal::EntityManager> entityManager = shoalEntityManager();
   const Kiv::Ptr<KivSharedMem::MountGroup> mountGroup = entityManager->getMountGroup();
   using KivShoal::KivShoalType;
   const struct {
      const char* path;
      const char* typeName;
      KivShoalType type;
   } mounts[] = {
       {quillShoalConfigDirPath, Quill::QuillShoalConfigDir::typeName, KivShoalType::watchingReader},
       {hwKeyUidTablePath, TesselNat::HwKeyUidTable::typeName, KivShoalType::reader},
       {uidHwKeyTablePath, TesselNat::UidHwKeyTable::typeName, KivShoalType::reader},
       {hwShadowPath, Ember::NatHwShadow::typeName, KivShoalType::reader},
       {ingModSetDirPath, TesselNat::ModSetDir::typeName, KivShoalType::reader},
   };
   for (const auto& mount : mounts) {
      mountGroup->doMount(mount.path, mount.typeName, KivShoal::MountInfo(mount.type));
   }
   mountGroup->doClose();
   const auto tcamGroupManager = Kiv::ptrCast<TesselTcamGroupManager>(sharedEntity("tcamManager"));
   const auto scsd = Kiv::ptrCast<TesselCommonSmData>(sharedEntity("tesselCommon"));
   rootSmIs(scsd, tcamGroupManager, mountGroup, entityManager);
}

Kiv::Ptr<NatSlaveRootSm> NatMounter::rootSmIs(
    const Kiv::Ptr<const TesselCommonSmData>& scsd,
    const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager,
    const Kiv::Ptr<const KivSharedMem::MountGroup>& mountGroup,
    const Kiv::Ptr<KivShoal::EntityManager>& shoalEntityManager) {
   if (rootSm_ && rootSm_->scsd() == scsd && rootSm_->tcamGroupManager() == tcamGroupManager &&
       rootSm_->mountGroup() == mountGroup && rootSm_->shoalEntityManager() == shoalEntityManager) {
      return rootSm_;
   }
   // The new root is complete, programmers included, before the old one is released.
   rootSm_ = NatSlaveRootSm::NatSlaveRootSmIs(scsd, tcamGroupManager, mountGroup,
                                              shoalEntityManager);
   rootSm_->hasNotificationActiveIs(true);
   return rootSm_;
}

Kiv::Ptr<NatSlaveRootSm> NatMounter::rootSmDel() {
   Kiv::Ptr<NatSlaveRootSm> removed = std::move(rootSm_);
   rootSm_ = nullptr;
   if (removed) removed->hasNotificationActiveIs(false);
   return removed;
}

Kiv::Ptr<Kiv::PtrInterface> natMounterFactory(const Kiv::Name& name, const Kiv::Ptr<Kiv::Entity>&) {
   Kiv::Ptr<NatMounter> mounter(new NatMounter(name));
   mounter->hasNotificationActiveIs(true);
   return mounter;
}

Kiv::Ptr<Kiv::TypeNode> NatMounter::typeNode() {
   static const Kiv::Ptr<Kiv::TypeNode> node = [] {
      Kiv::Ptr<Kiv::TypeNode> type(new Kiv::TypeNode("Tessel::NatMounter"));
      type->attributeIs(Kiv::attribute("rootSm", &NatMounter::rootSm));
      type->operationIs(Kiv::operation("rootSmIs", &NatMounter::rootSmIs));
      type->operationIs(Kiv::operation("rootSmDel", &NatMounter::rootSmDel));
      type->operationIs(Kiv::operation("doInit", &NatMounter::doInit));
      type->factoryIs(&natMounterFactory);
      return type;
   }();
   return node;
}

}  // namespace Tessel

#pragma once

#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "platform/framework/kiv/keyed_collection.h"
#include "platform/framework/kiv/ptr.h"
#include "platform/framework/kiv/reactor.h"
#include "platform/framework/kiv/type_registry.h"
#include "platform/records/tessel_central/mod_id.h"
#include "platform/records/tessel_common/tessel_common_sm_data.h"
#include "platform/switch/tcam/tessel_tcam_group_manager.h"
#include "platform/tables/kiv_shared_mem/mount_group.h"
#include "platform/tables/kiv_shoal/entity_manager.h"

namespace Tessel {

// Keeps one NAT programmer for every module of the shared state's module-to-unit map, each
// with its own status directory, and, once the NAT tables' mount group is ready, commits
// every translation request that has no answer or an outdated one.
//
// Owns its two reactors and its programmers. Runs on the framework thread with the activity
// lock held. A programmer asked for again with other tables raises the name-in-use error; a
// uid out of range in the commit pass raises the range error and ends the pass.
class NatSlaveRootSm : public Kiv::PtrInterface {
public:
   // Constructs the root, then switches its notifications on.
   static Kiv::Ptr<NatSlaveRootSm> NatSlaveRootSmIs(
       const Kiv::Ptr<const TesselCommonSmData>& scsd,
       const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager,
       const Kiv::Ptr<const KivSharedMem::MountGroup>& mountGroup,
       const Kiv::Ptr<KivShoal::EntityManager>& shoalEntityManager);

   // Watches `scsd` and `mountGroup` (when given), then creates the programmers of the
   // modules present now.
   NatSlaveRootSm(const Kiv::Ptr<const TesselCommonSmData>& scsd,
                  const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager,
                  const Kiv::Ptr<const KivSharedMem::MountGroup>& mountGroup,
                  const Kiv::Ptr<KivShoal::EntityManager>& shoalEntityManager);
   ~NatSlaveRootSm() override;

   const Kiv::Ptr<const TesselCommonSmData>& scsd() const { return scsd_; }
   const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager() const { return tcamGroupManager_; }
   const Kiv::Ptr<const KivSharedMem::MountGroup>& mountGroup() const { return mountGroup_; }
   const Kiv::Ptr<KivShoal::EntityManager>& shoalEntityManager() const {
      return shoalEntityManager_;
   }
   // For the generic interface: retarget or drop a watch.
   void scsdIs(const Kiv::Ptr<const TesselCommonSmData>& scsd);
   void scsdDel() { scsdIs(nullptr); }
   void mountGroupIs(const Kiv::Ptr<const KivSharedMem::MountGroup>& mountGroup);
   void mountGroupDel() { mountGroupIs(nullptr); }

   // Evaluates every module of the module-to-unit map.
   void handleModule();
   // A present module gets its status directory mounted and its programmer found or
   // created; an absent one loses its programmer.
   void handleModule(TesselCentral::ModId modId);
   // The commit pass, once the mount group is ready.
   void handleMountGroupReady();

   // Find-or-create, with the programmer's constructor arguments in its order.
   Kiv::Ptr<NatSlaveProgrammerSm> natSlaveProgrammerSmIs(
       const Kiv::Ptr<const Quill::QuillShoalConfigDir>& quillShoalConfigDir,
       const Kiv::Ptr<Quill::QuillShoalStatusDir>& quillShoalStatusDir,
       const Kiv::Ptr<const Ember::NatHwShadow>& shadow,
       const Kiv::Ptr<const TesselNat::UidHwKeyTable>& uidHwKeyTable,
       const Kiv::Ptr<const TesselNat::HwKeyUidTable>& hwKeyUidTable,
       const Kiv::Ptr<const TesselNat::ModSetDir>& ingModSetDir, TesselCentral::ModId modId,
       const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager,
       const Kiv::Ptr<const TesselCommonSmData>& scsd);
   // Null when the module has none.
   Kiv::Ptr<NatSlaveProgrammerSm> natSlaveProgrammerSm(TesselCentral::ModId modId) const {
      return programmers_.member(modId);
   }
   size_t natSlaveProgrammerSms() const { return programmers_.size(); }
   // Removes and returns the module's programmer (null when none); its notifications stay.
   Kiv::Ptr<NatSlaveProgrammerSm> natSlaveProgrammerSmDel(TesselCentral::ModId modId);
   void natSlaveProgrammerSmDelAll();

   // Switches the root, its reactors and its programmers; nothing when the state is already so.
   void hasNotificationActiveIs(bool active) override;
   // Marks the reactors, then the root, deleted: the reactors go silent.
   void deletedIs() override;

   static Kiv::Ptr<Kiv::TypeNode> typeNode();

private:
   class ScsdReactor : public Kiv::Reactor<NatSlaveRootSm, TesselCommonSmData> {
   public:
      using Reactor::Reactor;
      void onModuleToUnit(TesselCentral::ModId modId) override { owner()->handleModule(modId); }
   };
   class MountGroupReactor : public Kiv::Reactor<NatSlaveRootSm, KivSharedMem::MountGroup> {
   public:
      using Reactor::Reactor;
      void onReady() override { owner()->handleMountGroupReady(); }
   };

   // Commits the programmer's unanswered requests.
   void commitUnanswered(NatSlaveProgrammerSm& programmer);

   Kiv::Ptr<const TesselCommonSmData> scsd_;
   Kiv::Ptr<ScsdReactor> scsdReactor_;
   Kiv::Ptr<TesselTcamGroupManager> tcamGroupManager_;
   Kiv::Ptr<const KivSharedMem::MountGroup> mountGroup_;
   Kiv::Ptr<MountGroupReactor> mountGroupReactor_;
   Kiv::Ptr<KivShoal::EntityManager> shoalEntityManager_;
   Kiv::KeyedCollection<TesselCentral::ModId, NatSlaveProgrammerSm> programmers_;
};

}  // namespace Tessel

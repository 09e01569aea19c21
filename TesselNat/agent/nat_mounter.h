#pragma once

#include "TesselNat/agent/nat_slave_root_sm.h"
#include "platform/agent/tessel_common/mounter_base.h"
#include "platform/framework/kiv/type_registry.h"

namespace Tessel {

// The plug-in's entry point into the agent. doInit() mounts the NAT tables the control plane
// publishes into one mount group, closes it, fetches the agent's shared TCAM manager and
// shared state, and creates the root state machine, which keeps one programmer per module.
// The mounter owns the root and removes it, switched off, when it goes; nothing is unmounted.
class NatMounter : public TesselCommon::MounterBase {
public:
   explicit NatMounter(Kiv::Name name);
   ~NatMounter() override;

   void doInit() override;

   const Kiv::Ptr<NatSlaveRootSm>& rootSm() const { return rootSm_; }
   // Find-or-create: the existing root when it was made from the same four objects.
   Kiv::Ptr<NatSlaveRootSm> rootSmIs(const Kiv::Ptr<const TesselCommonSmData>& scsd,
                                     const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager,
                                     const Kiv::Ptr<const KivSharedMem::MountGroup>& mountGroup,
                                     const Kiv::Ptr<KivShoal::EntityManager>& shoalEntityManager);
   // Removes the root, switched off, and returns it; null when there is none.
   Kiv::Ptr<NatSlaveRootSm> rootSmDel();

   static Kiv::Ptr<Kiv::TypeNode> typeNode();

private:
   Kiv::Ptr<NatSlaveRootSm> rootSm_;
};

// The type's directory factory: a mounter with that name, notifications on.
Kiv::Ptr<Kiv::PtrInterface> natMounterFactory(const Kiv::Name& name,
                                              const Kiv::Ptr<Kiv::Entity>& directory);

}  // namespace Tessel

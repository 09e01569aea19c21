#pragma once

#include <vector>

#include "TesselNat/agent/nat_mounter.h"
#include "TesselNat/programmer/nat_entry_constants.h"
#include "TesselNat/tessel_nat_library.h"
#include "platform/agent/plugin/loader.h"

namespace NatTest {

// The agent process around the plug-in, as the agent builds it: its shoal entity manager over
// the shared store, its TCAM group manager with the NAT group, the loader with the shared
// objects "tcamManager" and "tesselCommon" published, the plug-in library loaded, and the
// plug-in's mounter created by type name. Destroying it tears the mounter down first.
struct Agent {
   Agent(const Kiv::Ptr<Shoal::SharedStore>& sharedMemory, const Kiv::Ptr<TesselCommonSmData>& scsd,
         TesselTcamGroupManager::Start start, U32 natEntries, std::vector<U16> units = {})
       : entityManager(new KivShoal::EntityManager("agent", sharedMemory)),
         groups(new TesselTcamGroupManager(64, start, std::move(units))),
         nat(groups->unboundedEntryManagerIs(
             {Tessel::natTcamGroupAssignment, 1, natEntries, 2, 1})),
         loader(entityManager) {
      loader.sharedEntityIs("tcamManager", groups);
      loader.sharedEntityIs("tesselCommon", scsd);
      loader.libraryIs(Tessel::tesselNatLibrary, &Tessel::tesselNatLibraryLoad);
      mounter =
          Kiv::ptrCast<Tessel::NatMounter>(loader.mounterIs("Tessel::NatMounter", "TesselNat"));
   }

   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer(U16 modId) const {
      return mounter->rootSm()->natSlaveProgrammerSm(TesselCentral::ModId(modId));
   }

   Kiv::Ptr<KivShoal::EntityManager> entityManager;
   Kiv::Ptr<TesselTcamGroupManager> groups;
   Kiv::Ptr<TesselUnboundedTcamEntryManager> nat;
   Plugin::Loader loader;
   Kiv::Ptr<Tessel::NatMounter> mounter;
};

}  // namespace NatTest

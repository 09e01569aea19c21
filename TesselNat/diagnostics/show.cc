#include <cstdio>

#include "TesselNat/nat_trace.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "TesselNat/programmer/shadow_data.h"
#include "platform/framework/kiv/assert.h"
#include "platform/framework/trace/dual_trace.h"

namespace Tessel {

// Written piece by piece straight to the descriptor, for a tool on the other side of the
// command socket to parse; write errors are not checked. Every record ends with "},".
void NatSlaveProgrammerSm::doShow(U32 socket, TesselCentral::ModId) const {
   KIV_DUAL_TRACE(natTrace(), traceShow, "{}: ", Kiv::signatureText(__PRETTY_FUNCTION__));
   const int fd = static_cast<int>(socket);
   U8 pipes = 0;
   U8 copies = 0;
   if (const Kiv::Ptr<TesselUnboundedTcamEntryManager> entryManager = tcamEntryManager()) {
      if (TesselTcamGroupManager* groups = entryManager->groupManager()) {
         pipes = static_cast<U8>(groups->getNumPipe(entryManager->group()));
         copies = static_cast<U8>(groups->getNumCopiesPerPipe(unit(), entryManager->group()));
      }
   }
   const auto writeIds = [&](int index, U32 entryId) {
      dprintf(fd, "\"eid%d\": \"", index);
      if (entryId != 0) {
         for (U8 pipe = 0; pipe < pipes; ++pipe) {
            for (U8 copy = 0; copy < copies; ++copy) {
               dprintf(fd, " %u", tcamEntryManager()->getPipeEntryId(unit(), pipe, entryId, copy));
            }
         }
      }
      dprintf(fd, "\",");
   };
   dprintf(fd, "[");
   entryIdTableForEach([&](const EntryIdTableEntry& entry) {
      const Ember::NatHwKey& hwKey = entry.key();
      for (const auto& [vlanId, defaultId] : entry.defaultEntryIdMap()) {
         const Kiv::String key = hwKey.stringValue();
         const Kiv::String vlan = vlanId == 0 ? Kiv::String("*") : std::to_string(vlanId);
         dprintf(fd, "{\"hwKey\": \"%s vlan: %s\",", key.c_str(), vlan.c_str());
         writeIds(0, defaultId);
         writeIds(1, entry.fragEntryIdHas(vlanId) ? entry.fragEntryId(vlanId) : 0);
         bool found = false;
         dprintf(fd, "\"uid\": %u,", hwKeyUidTable()->safeLookup(hwKey, found).uid());
         if (shadow()->entryHas(hwKey)) {
            // The entry is copied whole before its pieces are written: one that claims more
            // VLANs than it can hold raises its size error after the uid piece.
            const Ember::NatHwShadowEntry shadowEntry = shadow()->safeLookup(hwKey, found);
            const Ember::NatHwData shadowData = shadowDataOf(shadowEntry);
            dprintf(fd, "\"dirty\": %d,", static_cast<int>(shadowEntry.dirty()));
            dprintf(fd, "\"nextHop\": %llu", static_cast<unsigned long long>(shadowData.nextHop()));
         }
         dprintf(fd, "},");
      }
   });
   dprintf(fd, "]");
}

}  // namespace Tessel

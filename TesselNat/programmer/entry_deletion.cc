#include "TesselNat/nat_trace.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "platform/framework/trace/dual_trace.h"

namespace Tessel {

// Entries go back to the entry manager that owns them, default before fragment; the record
// is written once, after both. A record left without ids stays until the commit removes it.
void NatSlaveProgrammerSm::doDeleteEntry(const Ember::NatHwKey& hwKey, U16 vlanId) {
   EntryIdTableEntry entry = entryIdTable(hwKey);
   const U32 defaultEntryId = entry.defaultEntryId(vlanId);
   KIV_DUAL_TRACE(natTrace(), traceStep, "SPSm:: freeing entry {} for key {}", defaultEntryId,
                  Kiv::lazyText(hwKey));
   requiredEntryManager()->freeEntry(unit(), defaultEntryId);
   entry.defaultEntryIdDel(vlanId);

   if (entry.fragEntryIdHas(vlanId)) {
      const U32 fragEntryId = entry.fragEntryId(vlanId);
      KIV_DUAL_TRACE(natTrace(), traceStep, "SPSm:: freeing frag entry {} for key {}", fragEntryId,
                     Kiv::lazyText(hwKey));
      requiredEntryManager()->freeEntry(unit(), fragEntryId);
      entry.fragEntryIdDel(vlanId);
   }
   entryIdTableIs(entry);
}

}  // namespace Tessel

#include "TesselNat/event_log_messages.h"
#include "TesselNat/nat_trace.h"
#include "TesselNat/programmer/nat_entry_constants.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "TesselNat/programmer/shadow_data.h"
#include "platform/framework/kiv/assert.h"
#include "platform/framework/trace/dual_trace.h"
#include "platform/framework/trace/event_log.h"

namespace Tessel {

// The entry-id table is written before any SDK call of new entries, so a record always
// names the entries about to be installed; an existing key keeps its ids and its entries are
// rewritten in place.
bool NatSlaveProgrammerSm::doProgram(const Ember::NatHwKey& hwKey, const Ember::NatHwKey& hwKey0,
                                     const Ember::NatHwData& shadowData0, U16 vlanId) {
   bool found = false;
   const Ember::NatHwShadowEntry shadowEntry = shadow()->safeLookup(hwKey, found);
   if (!found) KIV_ASSERT( shadow()->entryHas( hwKey ) );
   const Ember::NatHwData shadowData = shadowDataOf(shadowEntry);
   KIV_DUAL_TRACE(natTrace(), traceStep, "doProgram key: {} for vlanId {}", Kiv::lazyText(hwKey),
                  vlanId);

   EntryIdTableEntry entry = entryIdTableOrNew(hwKey);
   bool updating = true;
   if (!entry.defaultEntryIdHas(vlanId)) {
      const Kiv::Ptr<TesselUnboundedTcamEntryManager> entryManager = requiredEntryManager();
      entry.defaultEntryIdIs(vlanId, entryManager->getEntry(unit(), natTcamEntryName));
      if (entry.defaultEntryId(vlanId) == 0) {
         Kiv::log(TesselNat::tesselNatTcamResourceFull(), hwKey.stringValue());
         return false;
      }
      if (needsFragEntry(hwKey)) {
         entry.fragEntryIdIs(vlanId, entryManager->getEntry(unit(), natTcamEntryName));
         if (entry.fragEntryId(vlanId) == 0) {
            Kiv::log(TesselNat::tesselNatTcamResourceFull(), hwKey.stringValue());
            entryManager->freeEntry(unit(), entry.defaultEntryId(vlanId));
            return false;
         }
      }
      entryIdTableIs(entry);
      updating = false;
   } else if (hwKey.isStaticNapt() || hwKey.isTwiceNapt()) {
      KIV_ASSERT( entry.fragEntryIdHas( vlanId ) );
   }

   const char* action = updating ? "updating" : "adding";
   KIV_DUAL_TRACE(natTrace(), traceStep, "SPSm:: {} entry {} for vlan {}", action,
                  entry.defaultEntryId(vlanId), vlanId);
   U32 uid = hwKeyUidTable()->safeLookup(hwKey0, found).uid();
   doProgramEntry(entry.defaultEntryId(vlanId), updating, false, hwKey, shadowData, hwKey0,
                  shadowData0, vlanId, uid);
   if (entry.fragEntryIdHas(vlanId)) {
      KIV_DUAL_TRACE(natTrace(), traceStep, "SPSm:: {} frag entry {} for vlan {}", action,
                     entry.fragEntryId(vlanId), vlanId);
      uid = hwKeyUidTable()->safeLookup(hwKey0, found).uid();
      doProgramEntry(entry.fragEntryId(vlanId), updating, true, hwKey, shadowData, hwKey0,
                     shadowData0, vlanId, uid);
   }
   return true;
}

}  // namespace Tessel

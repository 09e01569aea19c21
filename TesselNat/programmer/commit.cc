#include "TesselNat/nat_trace.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "TesselNat/programmer/shadow_data.h"
#include "platform/framework/kiv/assert.h"
#include "platform/framework/trace/dual_trace.h"
#include "platform/framework/trace/event_log.h"

namespace Tessel {
namespace {

enum class CommitResult : U32 { done = 1, failed = 2 };

bool programmedOnceWithoutVlan(const Ember::NatHwKey& hwKey) {
   return hwKey.isStaticSrcNat() || hwKey.type() == Ember::NatKeyType::twiceSrcNat ||
          hwKey.type() == Ember::NatKeyType::dynamicSrcNat;
}

bool programmedPerVlan(const Ember::NatHwKey& hwKey) {
   return hwKey.isStaticDestNat() || hwKey.type() == Ember::NatKeyType::twiceDestNat ||
          hwKey.type() == Ember::NatKeyType::dynamicDestNat;
}

// Whether `vlanId` is one of the first `count` VLANs of the rule's list: a scan of at most 64
// ids costs less than building a set of them for every key.
bool listedBefore(const Ember::NatHwData& data, U32 count, U16 vlanId) {
   for (U32 i = 0; i < count; ++i) {
      if (data.vlanId(Ember::NatVlanIdIndex(i)) == vlanId) return true;
   }
   return false;
}

}  // namespace

// A rule is the run of keys hwKey0, hwKey0 with faId + 1, ... up to the base data's
// faIdLimit. Programming stops at the first failure but the sweep and the delete loop still
// run, so that no entry is held that this pass did not confirm.
void NatSlaveProgrammerSm::doCommitHwConfig(TesselNat::Uid uid) {
   const Kiv::LogContextGuard logContext(modId().value(), uid.value());
   // Each table below is read at a place no earlier commit left in the cache, most often one
   // after the other: asking for their index words first lets those misses overlap.
   const Quill::QuillShoalKey quillShoalKey(uid.value());
   if (!hitlessInitPhase()) ingModSetDir()->indexReadAheadOf(uid.value());
   uidHwKeyTable()->indexReadAheadOf(uid.value());
   quillShoalConfigDir()->indexReadAheadOf(quillShoalKey);
   quillShoalStatusDir()->indexReadAheadOf(quillShoalKey);
   bool found = false;
   if (!hitlessInitPhase()) {
      const TesselNat::ModSetEntry pending = ingModSetDir()->safeLookup(uid.value(), found);
      if (!pending.modSet().hasModule(modId())) {
         KIV_DUAL_TRACE(natTrace(), traceNotPending,
                        "SPSm::doCommitHwConfig mod {} uid {} not in pending set", modId().value(),
                        uid.value());
         quillStatusIs(uid, static_cast<U32>(CommitResult::done));
         return;
      }
   }

   // Each table is asked whether it has the key only when the lookup did not find it: a lookup
   // that met corruption finds nothing although the key is there, and goes on with the default.
   const Ember::NatHwKey hwKey0 = uidHwKeyTable()->safeLookup(uid.value(), found).hwKey();
   if (!found) KIV_ASSERT( uidHwKeyTable()->entryHas( uid ) );
   // The uid table is read only by a commit that programs, and only once the shadow was read.
   if (hwKeyUidTable()) hwKeyUidTable()->indexReadAheadOf(hwKey0);
   entryIdTableReadAheadOf(hwKey0);
   // Most rules are one key: the loops end at the next one.
   entryIdTableReadAheadOf(Ember::NatHwKey(hwKey0).faIdIs(hwKey0.faId() + 1));
   const Ember::NatHwShadowEntry shadowEntry0 = shadow()->safeLookup(hwKey0, found);
   if (!found) KIV_ASSERT( shadow()->entryHas( hwKey0 ) );
   const Ember::NatHwShadowEntry::Dirty dirty = shadowEntry0.dirty();
   KIV_DUAL_TRACE(natTrace(), traceStep, "SPSm::doCommitHwConfig uid: {} key: {} dirty: {}",
                  uid.value(), Kiv::lazyText(hwKey0), Ember::text(dirty));

   CommitResult result = CommitResult::done;
   Ember::NatHwKey hwKey = hwKey0;
   // Clean entries are reprogrammed only while the table is rebuilt after a warm restart.
   const bool clean = dirty == Ember::NatHwShadowEntry::Dirty::clean;
   if (clean) KIV_ASSERT( hitlessInitPhase() && "invalid hw access with clean shadow" );
   const bool programs = clean || dirty == Ember::NatHwShadowEntry::Dirty::dirty;
   const bool deletes = programs || dirty == Ember::NatHwShadowEntry::Dirty::deleted;
   if (dirty == Ember::NatHwShadowEntry::Dirty::deleted) entryIdTableRemovalReadAhead();
   if (programs) {
      const Ember::NatHwData shadowData0 = shadowDataOf(shadowEntry0);
      do {
         if (programmedOnceWithoutVlan(hwKey)) {
            if (result == CommitResult::done && !doProgram(hwKey, hwKey0, shadowData0, 0)) {
               result = CommitResult::failed;
            }
         } else if (programmedPerVlan(hwKey)) {
            // The VLANs attempted are the list's first `attempted`.
            U32 attempted = 0;
            while (attempted < shadowData0.vlanIds() && result == CommitResult::done) {
               const U16 vlanId = shadowData0.vlanId(Ember::NatVlanIdIndex(attempted++));
               result = doProgram(hwKey, hwKey0, shadowData0, vlanId) ? CommitResult::done
                                                                      : CommitResult::failed;
            }
            // VLANs that left the list, and after a failure those not attempted.
            const EntryIdTableEntry entry = entryIdTable(hwKey);
            for (const auto& [vlanId, entryId] : entry.defaultEntryIdMap()) {
               if (!listedBefore(shadowData0, attempted, vlanId)) doDeleteEntry(hwKey, vlanId);
            }
         }
         hwKey.faIdIs(hwKey.faId() + 1);
      } while (hwKey.faId() < shadowData0.faIdLimit());
   }
   if (deletes) {
      // Surplus keys of a shrunk rule, or every key of a removed one, up to the first gap.
      while (const std::optional<EntryIdTableEntry> entry = entryIdTableFind(hwKey)) {
         for (const auto& [vlanId, entryId] : entry->defaultEntryIdMap()) {
            doDeleteEntry(hwKey, vlanId);
         }
         entryIdTableDel(hwKey);
         hwKey.faIdIs(hwKey.faId() + 1);
      }
   }
   quillStatusIs(uid, static_cast<U32>(result));
}

void NatSlaveProgrammerSm::quillStatusIs(TesselNat::Uid uid, U32 result) {
   const Quill::QuillShoalKey quillShoalKey(uid.value());
   bool found = false;
   const Quill::QuillShoalConfig config = quillShoalConfigDir()->safeLookup(quillShoalKey, found);
   if (!found) KIV_ASSERT( quillShoalConfigDir()->quillConfigHas( quillShoalKey ) );
   quillShoalStatusDir()->quillStatusIs(
       Quill::QuillShoalStatus(quillShoalKey, result, config.reqVersion()));
}

}  // namespace Tessel

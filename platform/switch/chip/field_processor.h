#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "platform/framework/kiv/types.h"
#include "platform/segment/tear_free.h"
#include "platform/switch/chip/action_list.h"
#include "platform/switch/chip/field_entry.h"
#include "platform/switch/chip/packet.h"
#include "platform/switch/chip/ternary_row.h"

namespace Chip {

// What a classified packet hit: the entry and the actions it had when last installed.
struct Match {
   U32 entryId;
   ActionList actions;
};

// The ingress field processor of one unit, in two layers, as fixed arrays in the switch
// segment:
// - the entry store: field entries by id (1 to twice the slot count), as the SDK wrote them;
// - the TCAM: one row per slot in hardware order, holding what was installed there, with the
//   installed entry id, actions and priority and a hit counter per slot.
// Classification builds the packet's key and matches it against every row: the installed
// priority decides, and among equal priorities the lower slot. Entries of all groups share
// the slots.
//
// A FieldProcessor is a view that holds no state: every process's view of the same memory
// sees the same field processor, and memory of zeros is an empty one. One writer at a time
// changes it (the SDK's operations and the clear); readers in any process (classify, entry,
// entryInSlot, hitCount, the SDK's reads) never wait for it and see each entry and each slot
// whole, the one before or the one after a write. An operation that writes several (create,
// destroy, a flash download) may be seen, or cut by the writer's death, between two of them.
// Operations return Shim::successCode or a negative SdkError code, like the SDK calls they serve.
class FieldProcessor {
public:
   // The bytes of segment memory a field processor of `slotCount` slots takes.
   static std::size_t bytes(U32 slotCount);

   // The field processor laid out at `memory`, which holds bytes(slotCount) and outlives the view.
   FieldProcessor(std::byte* memory, U32 slotCount);

   // Removes every entry, entry by entry and slot by slot.
   void doClear();

   // Creates entry `entryId` (from 1 to twice the slot count, not in use) in `group` at `slot`
   // (below slotCount, free).
   S32 entryCreate(S32 group, U32 entryId, U32 slot);
   // Creates entry `entryId` in `group` in no slot: it takes qualifiers and actions but
   // matches nothing and cannot be installed until a flash download places it.
   S32 entryCreateUnplaced(S32 group, U32 entryId);
   // The ids of `group`'s entries, ascending.
   std::vector<U32> groupEntries(S32 group) const;
   // Flash download of `group`, in one step: every entry of the group that `entryIds` does not
   // list is destroyed, and the listed ones, all of the group, are placed at `firstSlot` on
   // and installed with their current content; `entryIds` then lists them in slot order. The
   // order keeps what packets met: by priority, and among equal priorities an entry whose key
   // (data and mask) a placed entry of the group had takes that entry's place; new keys
   // follow in list order. The slots must be free or the group's own; nothing changes when a
   // check fails. Each slot goes from its old content to its new one in one write, so a key
   // that keeps its place matches throughout.
   S32 groupFlash(S32 group, U32 firstSlot, std::span<U32> entryIds);
   // The entry placed in `slot`, or 0.
   U32 entryInSlot(U32 slot) const;
   U32 slotCount() const { return slotCount_; }
   // Removes the entry, and its row from the TCAM if it has one; its hit count is gone with it.
   S32 entryDestroy(U32 entryId);
   // Removes every entry in no slot.
   void unplacedEntriesDel();
   // Writes the entry's current content into its slot. Installing again (reinstall) keeps the
   // hit count. An unplaced entry cannot be installed.
   S32 entryInstall(U32 entryId);

   S32 qualifierIs(U32 entryId, KeyField field, U32 data, U32 mask);
   // Not found when the entry, or the qualifier on it, is absent.
   S32 qualifierGet(U32 entryId, KeyField field, QualifierValue* value) const;
   // Unknown action ids are invalid parameters; an action the entry already has exists.
   S32 actionIs(U32 entryId, const FieldActionValue& action);
   S32 actionDelAll(U32 entryId);
   // Takes effect when the entry is installed again.
   S32 priorityIs(U32 entryId, S32 priority);

   // A copy of the entry; nothing when there is no such entry.
   std::optional<FieldEntry> entry(U32 entryId) const;
   std::size_t entryCount() const { return Segment::atomicLoad(header_->entryCount); }

   // The best installed row matching `packet`, counting the hit; nothing when no row matches.
   std::optional<Match> classify(const Packet& packet);
   // Packets classified to the entry since it was placed or the counts were cleared; 0 for an
   // absent entry.
   U64 hitCount(U32 entryId) const;
   // Every slot's count back to 0, as an operator clears counters: beside classify() and
   // the writer, which see each count whole.
   void hitCountsClear();

private:
   struct Header {
      // The highest priority any entry was installed with: a match of it ends a
      // classification.
      S32 highestPriority;
      U32 entryCount;
      // Odd while the writer changes a slot: a scan of the rows' copies that saw it even and
      // unchanged read no copy being written. A writer that dies leaves it odd until the next
      // one's write.
      U64 scanSequence;
   };
   // A TCAM row as the segment keeps it: its mask complemented, the bits that do not matter,
   // so that a row of zeros requires a key of zeros, which no packet has (every packet key has
   // the valid bit): an empty slot matches nothing.
   struct StoredRow {
      std::array<U64, 2> data;
      std::array<U64, 2> ignored;

      static StoredRow of(const TernaryRow& row);
      TernaryRow row() const;
   };
   // What a slot holds besides its row.
   struct SlotContent {
      U32 entryId = 0;  // 0 while the slot is free
      S32 priority = 0;
      ActionList actions;
   };
   static_assert(sizeof(SlotContent) <= 64, "a classification reads the matching slot's content");
   // An entry id's record: the entry, or nothing.
   using StoredEntry = std::optional<FieldEntry>;
   // The best slot a scan found matching, with what it installed.
   struct Scan {
      U32 slot;
      SlotContent content;
   };

   U32 maxEntryId() const { return 2 * slotCount_; }
   // Runs `visit(entryId)` for every id whose bit is set, ascending.
   template <class Visit>
   void forEachIdInUse(Visit&& visit) const;
   void idInUseIs(U32 entryId, bool inUse);
   // Erases an existing entry's record, then its bit, and counts it gone.
   void recordErase(U32 entryId);
   // The entry's record; null for an id outside the table.
   Segment::TearFree<StoredEntry>* record(U32 entryId) const;
   // The entry as the writer reads it; nothing when absent.
   StoredEntry current(U32 entryId) const;
   // Rewrites an existing entry through `change`, which returns the SDK code; nothing is
   // written unless it succeeds.
   template <class Change>
   S32 entryChange(U32 entryId, Change&& change);
   // Publishes a slot's row and content in one write, and restarts its hit count when
   // `restartHits`.
   void slotIs(U32 slot, const TernaryRow& row, const SlotContent& content, bool restartHits);
   SlotContent currentContent(U32 slot) const;
   TernaryRow currentRow(U32 slot) const;
   // Publishes what the entry, present and placed, installs into its slot, and the entry,
   // marked installed, as its record.
   void installed(U32 entryId, StoredEntry& entry, bool restartHits);
   // An empty slot: a row matching nothing, no entry, no hits.
   void slotClear(U32 slot);
   // The best installed row matching `key`: from the scan's copy of the rows, which the caller
   // checks against the scan sequence, or else from each slot's images, each checked.
   template <bool fromScanCopy>
   std::optional<Scan> scan(const std::array<U64, 2>& key) const;

   U32 slotCount_;
   std::size_t extent_;  // the bytes the layout takes
   Header* header_;
   Segment::TearFree<StoredEntry>* entries_;  // index entry id - 1
   // A bit per entry id, set before its record is written and cleared after it is erased:
   // every present entry's bit is set, so a walk of the set bits finds every entry without
   // reading the records of the ids no one uses. A writer killed in between leaves a bit set
   // over an empty record, which a walk reads for nothing.
   U64* idsInUse_;
   Segment::Generation* slotGenerations_;
   // Both images of every slot's row, side by side: a scan finds the current one with no
   // more than its generation's lowest bit.
   std::array<Segment::AtomicImage<StoredRow>, 2>* rows_;
   // One more copy of every slot's row, for a scan that reads little more than the rows while
   // no slot is being written. It matches at least what its slot holds at every step of a
   // write, so that one cut by the writer's death can make a scan look at a slot for nothing
   // but never miss one.
   Segment::AtomicImage<StoredRow>* scanRows_;
   std::array<Segment::AtomicImage<SlotContent>*, 2> contents_;
   U64* hits_;
};

}  // namespace Chip

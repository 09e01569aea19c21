#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "platform/framework/kiv/types.h"
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

// The ingress field processor of one unit, in two layers:
// - the entry store: field entries by id, as the SDK wrote them (reads and writes O(1));
// - the TCAM: one row per slot in hardware order, holding what was installed there, with the
//   installed actions and a hit counter per slot.
// Classification builds the packet's key and matches it against every row: the installed
// priority decides, and among equal priorities the lower slot. Entries of all groups share
// the slots.
// Operations return Shim::successCode or a negative SdkError code, like the SDK calls they serve.
class FieldProcessor {
public:
   explicit FieldProcessor(U32 slotCount);

   // Creates entry `entryId` (not 0, not in use) in `group` at `slot` (below slotCount, free).
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
   // check fails.
   S32 groupFlash(S32 group, U32 firstSlot, std::span<U32> entryIds);
   // The entry placed in `slot`, or 0.
   U32 entryInSlot(U32 slot) const { return slot < slots_.size() ? slots_[slot].entryId : 0; }
   U32 slotCount() const { return static_cast<U32>(slots_.size()); }
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

   // Null when there is no such entry. Valid until the entry is destroyed.
   const FieldEntry* entry(U32 entryId) const;
   std::size_t entryCount() const { return entries_.size(); }

   // The first installed row matching `packet`, counting the hit; nothing when no row matches.
   std::optional<Match> classify(const Packet& packet);
   // Packets classified to the entry since it was created; 0 for an absent entry.
   U64 hitCount(U32 entryId) const;

private:
   struct SlotContent {
      U32 entryId = 0;  // 0 while the slot is free
      ActionList actions;
      S32 priority = 0;
      U64 hits = 0;
   };

   FieldEntry* findEntry(U32 entryId);
   // Clears the entry's slot and row, and leaves it unplaced.
   void unplace(FieldEntry& entry);

   std::unordered_map<U32, FieldEntry> entries_;
   std::vector<TernaryRow> rows_;
   std::vector<SlotContent> slots_;
   // The highest priority any entry was installed with: a match of it ends a classification.
   S32 highestPriority_ = 0;
};

}  // namespace Chip

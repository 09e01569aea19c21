#include "platform/switch/chip/field_processor.h"

#include <algorithm>
#include <unordered_set>

#include "platform/switch/sdk/return_code.h"

namespace Chip {

using Shim::SdkError;

FieldProcessor::FieldProcessor(U32 slotCount) : rows_(slotCount), slots_(slotCount) {}

S32 FieldProcessor::entryCreate(S32 group, U32 entryId, U32 slot) {
   if (entryId == 0 || slot >= slots_.size()) return code(SdkError::invalidParameter);
   if (entries_.contains(entryId) || slots_[slot].entryId != 0) return code(SdkError::exists);
   entries_.emplace(entryId, FieldEntry(group, slot));
   slots_[slot] = SlotContent{entryId, {}, 0, 0};
   return Shim::successCode;
}

S32 FieldProcessor::entryCreateUnplaced(S32 group, U32 entryId) {
   if (entryId == 0) return code(SdkError::invalidParameter);
   if (entries_.contains(entryId)) return code(SdkError::exists);
   entries_.emplace(entryId, FieldEntry(group, FieldEntry::noSlot));
   return Shim::successCode;
}

std::vector<U32> FieldProcessor::groupEntries(S32 group) const {
   std::vector<U32> ids;
   for (const auto& [id, entry] : entries_) {
      if (entry.group() == group) ids.push_back(id);
   }
   std::sort(ids.begin(), ids.end());
   return ids;
}

namespace {

struct RowHash {
   std::size_t operator()(const TernaryRow& row) const {
      std::size_t hash = 0;
      for (const U64 word : {row.data.words[0], row.data.words[1], row.mask.words[0],
                             row.mask.words[1]}) {
         hash = (hash ^ std::hash<U64>{}(word)) * 0x100000001B3ull;
      }
      return hash;
   }
};
struct RowEqual {
   bool operator()(const TernaryRow& a, const TernaryRow& b) const {
      return a.data.words == b.data.words && a.mask.words == b.mask.words;
   }
};

}  // namespace

S32 FieldProcessor::groupFlash(S32 group, U32 firstSlot, std::span<U32> entryIds) {
   if (firstSlot > slots_.size() || entryIds.size() > slots_.size() - firstSlot) {
      return code(SdkError::invalidParameter);
   }
   for (const U32 id : entryIds) {
      const FieldEntry* listed = entry(id);
      if (!listed || listed->group() != group) return code(SdkError::notFound);
   }
   for (U32 slot = firstSlot; slot < firstSlot + entryIds.size(); ++slot) {
      const FieldEntry* holder = entry(slots_[slot].entryId);
      if (holder && holder->group() != group) return code(SdkError::exists);
   }
   // Where each key of the group sits now, the first slot of a key that sits in several.
   std::unordered_map<TernaryRow, U32, RowHash, RowEqual> placedKeys;
   const std::vector<U32> previous = groupEntries(group);
   for (const U32 id : previous) {
      const FieldEntry& held = *entry(id);
      if (held.placed()) placedKeys.try_emplace(rows_[held.slot()], held.slot());
   }
   struct Rank {
      S32 priority;
      bool newKey;
      U32 place;  // the replaced entry's slot, or the position in the list
      U32 id;
   };
   std::vector<Rank> ranks;
   ranks.reserve(entryIds.size());
   for (U32 position = 0; position < entryIds.size(); ++position) {
      const FieldEntry& listed = *entry(entryIds[position]);
      const auto replaced = placedKeys.find(listed.row());
      const bool newKey = replaced == placedKeys.end();
      ranks.push_back({listed.priority(), newKey, newKey ? position : replaced->second,
                       entryIds[position]});
   }
   std::stable_sort(ranks.begin(), ranks.end(), [](const Rank& a, const Rank& b) {
      if (a.priority != b.priority) return a.priority > b.priority;
      if (a.newKey != b.newKey) return b.newKey;
      return a.place < b.place;
   });
   const std::unordered_set<U32> kept(entryIds.begin(), entryIds.end());
   for (const U32 id : previous) {
      FieldEntry& held = *findEntry(id);
      if (held.placed()) unplace(held);
      if (!kept.contains(id)) entries_.erase(id);
   }
   U32 slot = firstSlot;
   for (std::size_t i = 0; i < ranks.size(); ++i, ++slot) {
      entryIds[i] = ranks[i].id;
      findEntry(ranks[i].id)->slotIs(slot);
      slots_[slot] = SlotContent{ranks[i].id, {}, 0, 0};
      entryInstall(ranks[i].id);
   }
   return Shim::successCode;
}

S32 FieldProcessor::entryDestroy(U32 entryId) {
   const auto found = entries_.find(entryId);
   if (found == entries_.end()) return code(SdkError::notFound);
   if (found->second.placed()) unplace(found->second);
   entries_.erase(found);
   return Shim::successCode;
}

void FieldProcessor::unplacedEntriesDel() {
   std::erase_if(entries_, [](const auto& idAndEntry) { return !idAndEntry.second.placed(); });
}

void FieldProcessor::unplace(FieldEntry& entry) {
   rows_[entry.slot()] = TernaryRow();
   slots_[entry.slot()] = SlotContent();
   entry.slotIs(FieldEntry::noSlot);
}

S32 FieldProcessor::entryInstall(U32 entryId) {
   FieldEntry* entry = findEntry(entryId);
   if (!entry) return code(SdkError::notFound);
   if (!entry->placed()) return code(SdkError::invalidParameter);
   rows_[entry->slot()] = entry->row();
   slots_[entry->slot()].actions = entry->actions();
   slots_[entry->slot()].priority = entry->priority();
   highestPriority_ = std::max(highestPriority_, entry->priority());
   entry->installedIs();
   return Shim::successCode;
}

S32 FieldProcessor::qualifierIs(U32 entryId, KeyField field, U32 data, U32 mask) {
   FieldEntry* entry = findEntry(entryId);
   if (!entry) return code(SdkError::notFound);
   return entry->qualifierIs(field, data, mask) ? Shim::successCode
                                                : code(SdkError::invalidParameter);
}

S32 FieldProcessor::qualifierGet(U32 entryId, KeyField field, QualifierValue* value) const {
   const FieldEntry* found = entry(entryId);
   if (!found || !found->qualifier(field)) return code(SdkError::notFound);
   *value = *found->qualifier(field);
   return Shim::successCode;
}

S32 FieldProcessor::actionIs(U32 entryId, const FieldActionValue& action) {
   FieldEntry* entry = findEntry(entryId);
   if (!entry) return code(SdkError::notFound);
   if (!isFieldAction(action.action)) return code(SdkError::invalidParameter);
   return entry->actionIs(action) ? Shim::successCode : code(SdkError::exists);
}

S32 FieldProcessor::priorityIs(U32 entryId, S32 priority) {
   FieldEntry* entry = findEntry(entryId);
   if (!entry) return code(SdkError::notFound);
   entry->priorityIs(priority);
   return Shim::successCode;
}

S32 FieldProcessor::actionDelAll(U32 entryId) {
   FieldEntry* entry = findEntry(entryId);
   if (!entry) return code(SdkError::notFound);
   entry->actionDelAll();
   return Shim::successCode;
}

const FieldEntry* FieldProcessor::entry(U32 entryId) const {
   const auto found = entries_.find(entryId);
   return found == entries_.end() ? nullptr : &found->second;
}

FieldEntry* FieldProcessor::findEntry(U32 entryId) {
   const auto found = entries_.find(entryId);
   return found == entries_.end() ? nullptr : &found->second;
}

std::optional<Match> FieldProcessor::classify(const Packet& packet) {
   const TcamKey key = keyOf(packet);
   SlotContent* best = nullptr;
   for (std::size_t slot = 0; slot < rows_.size(); ++slot) {
      if (!rows_[slot].matches(key)) continue;
      SlotContent& content = slots_[slot];
      if (!best || content.priority > best->priority) best = &content;
      // No row installed later in the scan can outrank the highest priority ever installed.
      if (best->priority >= highestPriority_) break;
   }
   if (!best) return std::nullopt;
   ++best->hits;
   return Match{best->entryId, best->actions};
}

U64 FieldProcessor::hitCount(U32 entryId) const {
   const FieldEntry* found = entry(entryId);
   return found && found->placed() ? slots_[found->slot()].hits : 0;
}

}  // namespace Chip

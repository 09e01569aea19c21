#include "TesselNat/programmer/entry_id_table.h"

#include <bit>
#include <utility>

#include "platform/framework/kiv/assert.h"

namespace Tessel {

// The key's hash, spread over the index by its high bits (Fibonacci hashing), so that keys
// differing in a few low bits do not crowd one run; the tag comes from bits the home does not
// use.
EntryIdTable::Probe EntryIdTable::probeOf(const Ember::NatHwKey& key) const {
   const U64 spread = U64{key.hash(0)} * 0x9E3779B97F4A7C15ull;
   return Probe{static_cast<std::size_t>(spread >> indexShift_),
                static_cast<U32>(spread) & ~positionMask};
}

std::size_t EntryIdTable::wordOf(const Ember::NatHwKey& key) const {
   const std::size_t mask = index_.size() - 1;
   const Probe probe = probeOf(key);
   for (std::size_t word = probe.home;; word = (word + 1) & mask) {
      const U32 value = index_[word];
      if (value == freeWord) return word;
      if (value != removedWord && holds(value, probe, key)) return word;
   }
}

const EntryIdTableEntry* EntryIdTable::recordAt(const Ember::NatHwKey& key) const {
   if (index_.empty()) return nullptr;
   const U32 value = index_[wordOf(key)];
   return value == freeWord ? nullptr : &records_[positionOf(value) - 1];
}

EntryIdTableEntry EntryIdTable::entry(const Ember::NatHwKey& key) const {
   const EntryIdTableEntry* record = recordAt(key);
   return record ? *record : EntryIdTableEntry();
}

std::optional<EntryIdTableEntry> EntryIdTable::find(const Ember::NatHwKey& key) const {
   const EntryIdTableEntry* record = recordAt(key);
   if (!record) return std::nullopt;
   return *record;
}

EntryIdTableEntry& EntryIdTable::recordOrAdded(EntryIdTableEntry&& entry) {
   indexRebuildIfFull();
   const std::size_t mask = index_.size() - 1;
   std::size_t reusable = index_.size();
   const Probe probe = probeOf(entry.key());
   std::size_t word = probe.home;
   for (;; word = (word + 1) & mask) {
      const U32 value = index_[word];
      if (value == freeWord) break;
      if (value == removedWord) {
         if (reusable == index_.size()) reusable = word;
      } else if (holds(value, probe, entry.key())) {
         return records_[positionOf(value) - 1];
      }
   }
   if (reusable != index_.size()) {
      word = reusable;
      --removedWords_;
   }
   // A full position would read as the removed mark under an all-ones tag.
   KIV_ASSERT( records_.size() + 1 < positionMask );
   records_.push_back(std::move(entry));
   index_[word] = probe.tag | static_cast<U32>(records_.size());
   return records_.back();
}

EntryIdTableEntry EntryIdTable::entryOrNew(const Ember::NatHwKey& key) {
   return recordOrAdded(EntryIdTableEntry(key));
}

void EntryIdTable::entryIs(const EntryIdTableEntry& entry) {
   EntryIdTableEntry& record = recordOrAdded(EntryIdTableEntry(entry.key()));
   record = entry;
}

// The last record takes the removed one's place, so the records stay side by side.
EntryIdTableEntry EntryIdTable::entryDel(const Ember::NatHwKey& key) {
   if (index_.empty()) return EntryIdTableEntry();
   const std::size_t word = wordOf(key);
   if (index_[word] == freeWord) return EntryIdTableEntry();
   const U32 position = positionOf(index_[word]);
   EntryIdTableEntry removed = std::move(records_[position - 1]);
   index_[word] = removedWord;
   ++removedWords_;
   const auto last = static_cast<U32>(records_.size());
   if (position != last) {
      U32& moved = index_[wordOf(records_[last - 1].key())];
      moved = (moved & ~positionMask) | position;
      records_[position - 1] = std::move(records_[last - 1]);
   }
   records_.pop_back();
   marksFreedBefore(word);
   return removed;
}

// No probe that reaches a free word goes on past it, so a removed mark just before a free word
// ends no probe that could still find a key: it becomes free, and so do the marks before it.
// Without this, removing most rules leaves runs of marks that searches for absent keys walk
// until the next addition rebuilds the index.
void EntryIdTable::marksFreedBefore(std::size_t word) {
   const std::size_t mask = index_.size() - 1;
   if (index_[(word + 1) & mask] != freeWord) return;
   for (; index_[word] == removedWord; word = (word - 1) & mask) {
      index_[word] = freeWord;
      --removedWords_;
   }
}

void EntryIdTable::indexRebuildIfFull() {
   if ((records_.size() + removedWords_ + 1) * 4 <= index_.size() * 3) return;
   std::size_t words = 16;
   while ((records_.size() + 1) * 4 > words * 3) words *= 2;
   index_.assign(words, freeWord);
   indexShift_ = 64 - static_cast<unsigned>(std::countr_zero(words));
   removedWords_ = 0;
   const std::size_t mask = words - 1;
   for (U32 position = 1; position <= records_.size(); ++position) {
      const Probe probe = probeOf(records_[position - 1].key());
      std::size_t word = probe.home;
      while (index_[word] != freeWord) word = (word + 1) & mask;
      index_[word] = probe.tag | position;
   }
}

}  // namespace Tessel

#include "TesselNat/programmer/entry_id_table.h"

#include <bit>
#include <utility>

namespace Tessel {

// The key's hash, spread over the index by its high bits (Fibonacci hashing), so that keys
// differing in a few low bits do not crowd one run.
std::size_t EntryIdTable::home(const Ember::NatHwKey& key) const {
   return static_cast<std::size_t>((U64{key.hash(0)} * 0x9E3779B97F4A7C15ull) >> indexShift_);
}

std::size_t EntryIdTable::wordOf(const Ember::NatHwKey& key) const {
   const std::size_t mask = index_.size() - 1;
   for (std::size_t word = home(key);; word = (word + 1) & mask) {
      const U32 position = index_[word];
      if (position == freeWord) return word;
      if (position != removedWord && records_[position - 1].key() == key) return word;
   }
}

const EntryIdTableEntry* EntryIdTable::recordAt(const Ember::NatHwKey& key) const {
   if (index_.empty()) return nullptr;
   const U32 position = index_[wordOf(key)];
   return position == freeWord ? nullptr : &records_[position - 1];
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
   std::size_t word = home(entry.key());
   for (;; word = (word + 1) & mask) {
      const U32 position = index_[word];
      if (position == freeWord) break;
      if (position == removedWord) {
         if (reusable == index_.size()) reusable = word;
      } else if (records_[position - 1].key() == entry.key()) {
         return records_[position - 1];
      }
   }
   if (reusable != index_.size()) {
      word = reusable;
      --removedWords_;
   }
   records_.push_back(std::move(entry));
   index_[word] = static_cast<U32>(records_.size());
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
   const U32 position = index_[word];
   EntryIdTableEntry removed = std::move(records_[position - 1]);
   index_[word] = removedWord;
   ++removedWords_;
   const auto last = static_cast<U32>(records_.size());
   if (position != last) {
      index_[wordOf(records_[last - 1].key())] = position;
      records_[position - 1] = std::move(records_[last - 1]);
   }
   records_.pop_back();
   return removed;
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
      std::size_t word = home(records_[position - 1].key());
      while (index_[word] != freeWord) word = (word + 1) & mask;
      index_[word] = position;
   }
}

}  // namespace Tessel

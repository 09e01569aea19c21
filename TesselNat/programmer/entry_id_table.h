#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "TesselNat/programmer/entry_id_table_entry.h"
#include "platform/records/ember/nat_hw_key.h"

namespace Tessel {

// A programmer's record of which field entries implement which NAT key: at most one
// EntryIdTableEntry per key, found by the record's own key (no separate copy of the key is
// kept). Process memory only; rebuilt by commits after a restart.
//
// The records lie side by side, with no pointer to chase, and an index of 32-bit words finds
// them by key (open addressing, linear probing): a lookup reads a few index words and one
// record, and a rule costs its record and a few bytes of index. Each word also holds bits of
// its key's hash, so that a probe passes over other keys' words without reading their records:
// at 64K rules each record read is a cache miss, and a search for an absent key (the commit
// looks one past a rule's last key) would otherwise read one at every word it passes.
//
// Readers get copies; nothing hands out references into the table, so no caller can hold
// one across a change.
class EntryIdTable {
public:
   // A copy of the key's record, or an empty record (all-zero key, no ids) when absent.
   EntryIdTableEntry entry(const Ember::NatHwKey& key) const;
   bool has(const Ember::NatHwKey& key) const { return recordAt(key) != nullptr; }
   U32 size() const { return static_cast<U32>(records_.size()); }

   // A copy of the key's record, or nothing when absent.
   std::optional<EntryIdTableEntry> find(const Ember::NatHwKey& key) const;
   // A copy of the key's record, stored first as a record with the key and no ids when absent.
   EntryIdTableEntry entryOrNew(const Ember::NatHwKey& key);
   // Inserts a copy of `entry`, or overwrites the stored record with the same key.
   void entryIs(const EntryIdTableEntry& entry);
   // Removes and returns the key's record; an empty record when absent.
   EntryIdTableEntry entryDel(const Ember::NatHwKey& key);

   // For a caller that will look the key up after other work: the key's index word is read
   // into the cache meanwhile.
   void readAheadOf(const Ember::NatHwKey& key) const {
      if (!index_.empty()) __builtin_prefetch(&index_[probeOf(key).home]);
   }
   // For a caller about to remove a record: the removal moves the last record into its place
   // and rewrites that record's index word, which is read ahead.
   void removalReadAhead() const {
      if (!records_.empty()) readAheadOf(records_.back().key());
   }

   // Walks the records in the table's own order.
   template <class F>
   void forEach(F&& visit) const {
      for (const EntryIdTableEntry& record : records_) visit(record);
   }
   auto begin() const { return records_.begin(); }
   auto end() const { return records_.end(); }

private:
   // An index word: a record's position + 1 in its low bits and its key's tag above them,
   // 0 for a free word, or a removed record's mark, which a probe passes over (so that
   // removing a record moves no other word) and an addition may take.
   static constexpr U32 freeWord = 0;
   static constexpr U32 removedWord = ~U32{0};
   static constexpr unsigned positionBits = 24;
   static constexpr U32 positionMask = (U32{1} << positionBits) - 1;

   // Where the key's probe starts, and the tag its words carry.
   struct Probe {
      std::size_t home;
      U32 tag;
   };
   Probe probeOf(const Ember::NatHwKey& key) const;
   static U32 positionOf(U32 word) { return word & positionMask; }
   // Whether a word in use holds the key: its tag first, the record only when that agrees.
   bool holds(U32 word, const Probe& probe, const Ember::NatHwKey& key) const {
      return (word & ~positionMask) == probe.tag && records_[positionOf(word) - 1].key() == key;
   }
   // The index word holding the key's record, or the free word that ends its probe.
   std::size_t wordOf(const Ember::NatHwKey& key) const;
   const EntryIdTableEntry* recordAt(const Ember::NatHwKey& key) const;
   // The stored record for `entry`'s key, added (moved from `entry`) when absent.
   EntryIdTableEntry& recordOrAdded(EntryIdTableEntry&& entry);
   // Frees the removed mark at `word` and those just before it, when a free word follows.
   void marksFreedBefore(std::size_t word);
   // Rebuilds the index, without removed marks and at a size the records fill at most three
   // quarters of, once records and marks would fill more than that.
   void indexRebuildIfFull();

   std::vector<EntryIdTableEntry> records_;
   std::vector<U32> index_;    // a power of two of words, or none
   unsigned indexShift_ = 64;  // 64 - log2 of the index's size
   std::size_t removedWords_ = 0;
};

}  // namespace Tessel

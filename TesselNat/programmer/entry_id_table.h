#pragma once

#include <optional>
#include <unordered_set>

#include "TesselNat/programmer/entry_id_table_entry.h"
#include "platform/records/ember/nat_hw_key.h"

namespace Tessel {

// A programmer's record of which field entries implement which NAT key: at most one
// EntryIdTableEntry per key, found by the record's own key (no separate copy of the key is
// kept). Process memory only; rebuilt by commits after a restart.
//
// Readers get copies; nothing hands out references into the table, so no caller can hold
// one across a change.
class EntryIdTable {
public:
   // A copy of the key's record, or an empty record (all-zero key, no ids) when absent.
   EntryIdTableEntry entry(const Ember::NatHwKey& key) const;
   bool has(const Ember::NatHwKey& key) const { return records_.count(key) != 0; }
   U32 size() const { return static_cast<U32>(records_.size()); }

   // A copy of the key's record, or nothing when absent.
   std::optional<EntryIdTableEntry> find(const Ember::NatHwKey& key) const;
   // A copy of the key's record, stored first as a record with the key and no ids when absent.
   EntryIdTableEntry entryOrNew(const Ember::NatHwKey& key);
   // Inserts a copy of `entry`, or overwrites the stored record with the same key.
   void entryIs(const EntryIdTableEntry& entry);
   // Removes and returns the key's record; an empty record when absent.
   EntryIdTableEntry entryDel(const Ember::NatHwKey& key);

   // Walks the records in the table's own order.
   template <class F>
   void forEach(F&& visit) const {
      for (const EntryIdTableEntry& record : records_) visit(record);
   }
   auto begin() const { return records_.begin(); }
   auto end() const { return records_.end(); }

private:
   struct KeyHash {
      using is_transparent = void;
      size_t operator()(const Ember::NatHwKey& key) const { return key.hash(0); }
      size_t operator()(const EntryIdTableEntry& record) const { return record.key().hash(0); }
   };
   struct KeyEqual {
      using is_transparent = void;
      static const Ember::NatHwKey& keyOf(const Ember::NatHwKey& key) { return key; }
      static const Ember::NatHwKey& keyOf(const EntryIdTableEntry& record) { return record.key(); }
      template <class A, class B>
      bool operator()(const A& a, const B& b) const {
         return keyOf(a) == keyOf(b);
      }
   };

   std::unordered_set<EntryIdTableEntry, KeyHash, KeyEqual> records_;
};

}  // namespace Tessel

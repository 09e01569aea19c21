#include "TesselNat/programmer/entry_id_table.h"

namespace Tessel {

EntryIdTableEntry EntryIdTable::entry(const Ember::NatHwKey& key) const {
   auto it = records_.find(key);
   return it == records_.end() ? EntryIdTableEntry() : *it;
}

std::optional<EntryIdTableEntry> EntryIdTable::find(const Ember::NatHwKey& key) const {
   const auto it = records_.find(key);
   if (it == records_.end()) return std::nullopt;
   return *it;
}

EntryIdTableEntry EntryIdTable::entryOrNew(const Ember::NatHwKey& key) {
   auto it = records_.find(key);
   if (it == records_.end()) it = records_.emplace(key).first;
   return *it;
}

void EntryIdTable::entryIs(const EntryIdTableEntry& entry) {
   const auto [it, inserted] = records_.insert(entry);
   // A set member is const because its key places it; the key is the same, so the record may
   // take the new ids where it is.
   if (!inserted) const_cast<EntryIdTableEntry&>(*it) = entry;
}

EntryIdTableEntry EntryIdTable::entryDel(const Ember::NatHwKey& key) {
   auto it = records_.find(key);
   if (it == records_.end()) return EntryIdTableEntry();
   return std::move(records_.extract(it).value());
}

}  // namespace Tessel

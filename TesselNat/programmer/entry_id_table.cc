#include "TesselNat/programmer/entry_id_table.h"

namespace Tessel {

EntryIdTableEntry EntryIdTable::entry(const Ember::NatHwKey& key) const {
   auto it = records_.find(key);
   return it == records_.end() ? EntryIdTableEntry() : *it;
}

void EntryIdTable::entryIs(const EntryIdTableEntry& entry) {
   auto it = records_.find(entry.key());
   if (it == records_.end()) {
      records_.insert(entry);
      return;
   }
   // Set members are immutable in place; the node is taken out, rewritten and put back.
   auto node = records_.extract(it);
   node.value() = entry;
   records_.insert(std::move(node));
}

EntryIdTableEntry EntryIdTable::entryDel(const Ember::NatHwKey& key) {
   auto it = records_.find(key);
   if (it == records_.end()) return EntryIdTableEntry();
   return std::move(records_.extract(it).value());
}

}  // namespace Tessel

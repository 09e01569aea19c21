#include "TesselNat/programmer/entry_id_table_entry.h"

#include "platform/framework/kiv/assert.h"
#include "platform/framework/kiv/errors.h"

namespace Tessel {
namespace {

// Equal sizes and, walking both side by side, the same VLAN and id at every step.
bool sameInIterationOrder(const EntryIdTableEntry::EntryIdMap& a,
                          const EntryIdTableEntry::EntryIdMap& b) {
   if (a.size() != b.size()) return false;
   for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib) {
      if (ia->first != ib->first || ia->second != ib->second) return false;
   }
   return true;
}

}  // namespace

EntryIdTableEntry EntryIdTableEntry::fromString(const Kiv::String&) {
   KIV_ASSERT( !"No String constructor for EntryIdTableEntry - has collection" );
   __builtin_unreachable();
}

void EntryIdTableEntry::delAll(EntryIdMap& map) {
   while (!map.empty()) map.erase(map.begin());
}

bool EntryIdTableEntry::operator==(const EntryIdTableEntry& other) const {
   if (!(key_ == other.key_)) return false;
   if (this == &other) return true;
   return sameInIterationOrder(defaultEntryId_, other.defaultEntryId_) &&
          sameInIterationOrder(fragEntryId_, other.fragEntryId_);
}

bool EntryIdTableEntry::operator!() const { return *this == EntryIdTableEntry(); }

Kiv::String EntryIdTableEntry::stringValue() const {
   return "Value('Tessel::EntryIdTableEntry', ** {'key': " + key_.toString() +
          ", 'defaultEntryId': None, 'fragEntryId': None})";
}

size_t EntryIdTableEntry::hash() const {
   Kiv::throwTypeException(Kiv::typeErrorText("Tessel::EntryIdTableEntry", "hash"));
}

}  // namespace Tessel

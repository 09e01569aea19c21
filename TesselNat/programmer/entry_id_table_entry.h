#pragma once

#include <unordered_map>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/records/ember/nat_hw_key.h"

namespace Tessel {

// The field entries that implement one NAT hardware key: per ingress VLAN one default
// entry and, for keys that need one, one fragment entry. Keys programmed without a VLAN use
// VLAN id 0. An entry id of 0 is never recorded.
//
// A value type: copies are deep, and callers fetch a copy, change it and store it back.
class EntryIdTableEntry {
public:
   using EntryIdMap = std::unordered_map<U16, U32>;

   EntryIdTableEntry() = default;
   explicit EntryIdTableEntry(const Ember::NatHwKey& key) : key_(key) {}

   // The record cannot be built from text (it has collections): a fatal assertion.
   [[noreturn]] static EntryIdTableEntry fromString(const Kiv::String& text);

   const Ember::NatHwKey& key() const { return key_; }
   // Used by the programmer's table when it overwrites a stored record.
   void keyIs(const Ember::NatHwKey& key) { key_ = key; }

   U32 defaultEntryId(U16 vlanId) const { return idOf(defaultEntryId_, vlanId); }
   bool defaultEntryIdHas(U16 vlanId) const { return defaultEntryId_.count(vlanId) != 0; }
   U32 defaultEntryIds() const { return static_cast<U32>(defaultEntryId_.size()); }
   const EntryIdMap& defaultEntryIdMap() const { return defaultEntryId_; }
   void defaultEntryIdIs(U16 vlanId, U32 entryId) { defaultEntryId_[vlanId] = entryId; }
   void defaultEntryIdDel(U16 vlanId) { defaultEntryId_.erase(vlanId); }
   void defaultEntryIdDelAll() { delAll(defaultEntryId_); }

   U32 fragEntryId(U16 vlanId) const { return idOf(fragEntryId_, vlanId); }
   bool fragEntryIdHas(U16 vlanId) const { return fragEntryId_.count(vlanId) != 0; }
   U32 fragEntryIds() const { return static_cast<U32>(fragEntryId_.size()); }
   const EntryIdMap& fragEntryIdMap() const { return fragEntryId_; }
   void fragEntryIdIs(U16 vlanId, U32 entryId) { fragEntryId_[vlanId] = entryId; }
   void fragEntryIdDel(U16 vlanId) { fragEntryId_.erase(vlanId); }
   void fragEntryIdDelAll() { delAll(fragEntryId_); }

   // Keys equal, then both maps equal member by member in iteration order.
   bool operator==(const EntryIdTableEntry& other) const;
   // True for a record equal to a default-constructed one (all-zero key, no ids).
   bool operator!() const;

   // The framework's generic text; the collections show as "None".
   Kiv::String stringValue() const;
   // The record has no hash of its own: raises the framework's type error.
   [[noreturn]] size_t hash() const;

private:
   static U32 idOf(const EntryIdMap& map, U16 vlanId) {
      auto it = map.find(vlanId);
      return it == map.end() ? 0 : it->second;
   }
   static void delAll(EntryIdMap& map);

   Ember::NatHwKey key_;
   EntryIdMap defaultEntryId_;
   EntryIdMap fragEntryId_;
};

}  // namespace Tessel

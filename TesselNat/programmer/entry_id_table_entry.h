#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <utility>

#include "platform/framework/kiv/ptr.h"
#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/records/ember/nat_hw_key.h"

namespace Kiv {
class TypeNode;
}

namespace Tessel {

// The field entries that implement one NAT hardware key: per ingress VLAN one default
// entry and, for keys that need one, one fragment entry. Keys programmed without a VLAN use
// VLAN id 0. An entry id of 0 is never recorded.
//
// A value type: copies are deep, and callers fetch a copy, change it and store it back. The
// ids are kept per VLAN, in VLAN order, in one small array that lives inside the record for
// the common key on one VLAN, so such a record takes no heap of its own.
class EntryIdTableEntry {
   // One VLAN's ids; 0 where the VLAN has none of that kind.
   struct VlanIds {
      U16 vlanId;
      U32 defaultId;
      U32 fragId;
   };

public:
   // One of the record's two VLAN-to-id maps, read through: (vlanId, entryId) pairs in VLAN
   // order. Valid while the record lives and does not change.
   class EntryIdMap {
   public:
      class Iterator {
      public:
         using iterator_category = std::forward_iterator_tag;
         using value_type = std::pair<U16, U32>;
         using difference_type = std::ptrdiff_t;
         using pointer = void;
         using reference = value_type;

         Iterator() = default;
         value_type operator*() const { return {at_->vlanId, at_->*id_}; }
         Iterator& operator++() {
            ++at_;
            skipEmpty();
            return *this;
         }
         Iterator operator++(int) {
            Iterator before = *this;
            ++*this;
            return before;
         }
         bool operator==(const Iterator& other) const { return at_ == other.at_; }

      private:
         friend class EntryIdMap;
         Iterator(const VlanIds* at, const VlanIds* end, U32 VlanIds::*id)
             : at_(at), end_(end), id_(id) {
            skipEmpty();
         }
         void skipEmpty() {
            while (at_ != end_ && at_->*id_ == 0) ++at_;
         }

         const VlanIds* at_ = nullptr;
         const VlanIds* end_ = nullptr;
         U32 VlanIds::*id_ = nullptr;
      };

      Iterator begin() const { return Iterator(first_, last_, id_); }
      Iterator end() const { return Iterator(last_, last_, id_); }
      std::size_t size() const { return size_; }
      bool empty() const { return size_ == 0; }

   private:
      friend class EntryIdTableEntry;
      EntryIdMap(const VlanIds* first, const VlanIds* last, U32 VlanIds::*id, std::size_t size)
          : first_(first), last_(last), id_(id), size_(size) {}

      const VlanIds* first_;
      const VlanIds* last_;
      U32 VlanIds::*id_;
      std::size_t size_;
   };

   EntryIdTableEntry() = default;
   explicit EntryIdTableEntry(const Ember::NatHwKey& key) : key_(key) {}
   EntryIdTableEntry(const EntryIdTableEntry& other);
   EntryIdTableEntry(EntryIdTableEntry&& other) noexcept;
   EntryIdTableEntry& operator=(const EntryIdTableEntry& other);
   EntryIdTableEntry& operator=(EntryIdTableEntry&& other) noexcept;
   ~EntryIdTableEntry();

   // The record cannot be built from text (it has collections): a fatal assertion.
   [[noreturn]] static EntryIdTableEntry fromString(const Kiv::String& text);

   const Ember::NatHwKey& key() const { return key_; }
   // Used by the programmer's table when it overwrites a stored record.
   void keyIs(const Ember::NatHwKey& key) { key_ = key; }

   U32 defaultEntryId(U16 vlanId) const { return idOf(vlanId, &VlanIds::defaultId); }
   bool defaultEntryIdHas(U16 vlanId) const { return defaultEntryId(vlanId) != 0; }
   U32 defaultEntryIds() const { return defaultIds_; }
   EntryIdMap defaultEntryIdMap() const { return mapOf(&VlanIds::defaultId, defaultIds_); }
   void defaultEntryIdIs(U16 vlanId, U32 entryId) { idIs(vlanId, &VlanIds::defaultId, entryId); }
   void defaultEntryIdDel(U16 vlanId) { idIs(vlanId, &VlanIds::defaultId, 0); }
   void defaultEntryIdDelAll() { idsDel(&VlanIds::defaultId); }

   U32 fragEntryId(U16 vlanId) const { return idOf(vlanId, &VlanIds::fragId); }
   bool fragEntryIdHas(U16 vlanId) const { return fragEntryId(vlanId) != 0; }
   U32 fragEntryIds() const { return fragIds_; }
   EntryIdMap fragEntryIdMap() const { return mapOf(&VlanIds::fragId, fragIds_); }
   void fragEntryIdIs(U16 vlanId, U32 entryId) { idIs(vlanId, &VlanIds::fragId, entryId); }
   void fragEntryIdDel(U16 vlanId) { idIs(vlanId, &VlanIds::fragId, 0); }
   void fragEntryIdDelAll() { idsDel(&VlanIds::fragId); }

   // Keys equal, then both maps equal member by member in iteration order.
   bool operator==(const EntryIdTableEntry& other) const;
   // True for a record equal to a default-constructed one (all-zero key, no ids).
   bool operator!() const;

   // The framework's generic text; the collections show as "None".
   Kiv::String stringValue() const;
   // The record has no hash of its own: raises the framework's type error.
   [[noreturn]] size_t hash() const;

   // Its key and its two maps by VLAN, read from a record carried by value, and its text.
   static Kiv::Ptr<Kiv::TypeNode> typeNode();

private:
   const VlanIds* vlans() const { return capacity_ == 1 ? &inline_ : heap(); }
   VlanIds* vlans() { return capacity_ == 1 ? &inline_ : heap(); }
   VlanIds* heap() const {
      VlanIds* array;
      std::memcpy(&array, heapAddress_.data(), sizeof array);
      return array;
   }
   void heapIs(VlanIds* array) { std::memcpy(heapAddress_.data(), &array, sizeof array); }
   // The VLAN's slot, or null.
   const VlanIds* find(U16 vlanId) const;
   U32 idOf(U16 vlanId, U32 VlanIds::*id) const {
      const VlanIds* slot = find(vlanId);
      return slot ? slot->*id : 0;
   }
   EntryIdMap mapOf(U32 VlanIds::*id, std::size_t size) const {
      return EntryIdMap(vlans(), vlans() + size_, id, size);
   }
   // Sets one id of the VLAN; 0 removes it, and the VLAN goes with its last id.
   void idIs(U16 vlanId, U32 VlanIds::*id, U32 entryId);
   void idsDel(U32 VlanIds::*id);
   U16& countOf(U32 VlanIds::*id) { return id == &VlanIds::defaultId ? defaultIds_ : fragIds_; }
   void reserve(U32 capacity);
   void release();
   void takeFrom(EntryIdTableEntry& other);

   Ember::NatHwKey key_;
   U16 defaultIds_ = 0;
   U16 fragIds_ = 0;
   U16 size_ = 0;      // VLANs with an id of either kind
   U16 capacity_ = 1;  // 1: the one slot inside the record
   union {
      VlanIds inline_{};
      // The heap array's address, in words no wider than the VLAN slot's, so that the record
      // needs no padding: the programmer keeps one per key.
      std::array<U32, sizeof(VlanIds*) / sizeof(U32)> heapAddress_;
   };
};

static_assert(sizeof(EntryIdTableEntry) == sizeof(Ember::NatHwKey) + 20);

}  // namespace Tessel

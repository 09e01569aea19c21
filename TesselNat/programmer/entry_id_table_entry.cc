#include "TesselNat/programmer/entry_id_table_entry.h"

#include <algorithm>

#include "platform/framework/kiv/assert.h"
#include "platform/framework/kiv/errors.h"
#include "platform/framework/kiv/type_registry.h"

namespace Tessel {

EntryIdTableEntry::EntryIdTableEntry(const EntryIdTableEntry& other)
    : key_(other.key_), defaultIds_(other.defaultIds_), fragIds_(other.fragIds_) {
   reserve(other.size_);
   std::copy_n(other.vlans(), other.size_, vlans());
   size_ = other.size_;
}

EntryIdTableEntry::EntryIdTableEntry(EntryIdTableEntry&& other) noexcept { takeFrom(other); }

EntryIdTableEntry& EntryIdTableEntry::operator=(const EntryIdTableEntry& other) {
   if (this == &other) return *this;
   key_ = other.key_;
   reserve(other.size_);
   std::copy_n(other.vlans(), other.size_, vlans());
   size_ = other.size_;
   defaultIds_ = other.defaultIds_;
   fragIds_ = other.fragIds_;
   return *this;
}

EntryIdTableEntry& EntryIdTableEntry::operator=(EntryIdTableEntry&& other) noexcept {
   if (this == &other) return *this;
   release();
   takeFrom(other);
   return *this;
}

EntryIdTableEntry::~EntryIdTableEntry() { release(); }

// Takes the other's ids, heap array included, and leaves it without any; this has none.
void EntryIdTableEntry::takeFrom(EntryIdTableEntry& other) {
   key_ = other.key_;
   defaultIds_ = std::exchange(other.defaultIds_, 0);
   fragIds_ = std::exchange(other.fragIds_, 0);
   size_ = std::exchange(other.size_, 0);
   capacity_ = std::exchange(other.capacity_, 1);
   if (capacity_ == 1) {
      inline_ = other.inline_;
   } else {
      heapAddress_ = other.heapAddress_;
   }
   other.inline_ = VlanIds{};
}

void EntryIdTableEntry::release() {
   if (capacity_ != 1) delete[] heap();
   capacity_ = 1;
   inline_ = VlanIds{};
}

// Grows to hold `capacity` VLANs, keeping what is there.
void EntryIdTableEntry::reserve(U32 capacity) {
   if (capacity <= capacity_) return;
   const auto grown = static_cast<U16>(std::max<U32>(capacity, 2u * capacity_));
   auto* grownArray = new VlanIds[grown];
   std::copy_n(vlans(), size_, grownArray);
   if (capacity_ != 1) delete[] heap();
   heapIs(grownArray);
   capacity_ = grown;
}

EntryIdTableEntry EntryIdTableEntry::fromString(const Kiv::String&) {
   KIV_ASSERT( !"No String constructor for EntryIdTableEntry - has collection" );
   __builtin_unreachable();
}

const EntryIdTableEntry::VlanIds* EntryIdTableEntry::find(U16 vlanId) const {
   const VlanIds* first = vlans();
   const VlanIds* last = first + size_;
   const VlanIds* at = std::lower_bound(
       first, last, vlanId, [](const VlanIds& slot, U16 vlan) { return slot.vlanId < vlan; });
   return at != last && at->vlanId == vlanId ? at : nullptr;
}

void EntryIdTableEntry::idIs(U16 vlanId, U32 VlanIds::*id, U32 entryId) {
   VlanIds* first = vlans();
   VlanIds* at = std::lower_bound(first, first + size_, vlanId,
                                  [](const VlanIds& slot, U16 vlan) { return slot.vlanId < vlan; });
   const bool present = at != first + size_ && at->vlanId == vlanId;
   if (!present) {
      if (entryId == 0) return;
      const auto index = static_cast<std::size_t>(at - first);
      reserve(size_ + 1u);
      first = vlans();
      at = first + index;
      std::copy_backward(at, first + size_, first + size_ + 1);
      *at = VlanIds{vlanId, 0, 0};
      ++size_;
   }
   U16& count = countOf(id);
   if (at->*id == 0 && entryId != 0) ++count;
   if (at->*id != 0 && entryId == 0) --count;
   at->*id = entryId;
   if (at->defaultId == 0 && at->fragId == 0) {
      std::copy(at + 1, first + size_, at);
      --size_;
   }
}

void EntryIdTableEntry::idsDel(U32 VlanIds::*id) {
   VlanIds* first = vlans();
   for (std::size_t i = size_; i-- > 0;) {
      if (first[i].*id != 0) idIs(first[i].vlanId, id, 0);
   }
}

bool EntryIdTableEntry::operator==(const EntryIdTableEntry& other) const {
   if (!(key_ == other.key_)) return false;
   if (this == &other) return true;
   if (size_ != other.size_) return false;
   const VlanIds* mine = vlans();
   const VlanIds* theirs = other.vlans();
   for (std::size_t i = 0; i < size_; ++i) {
      if (mine[i].vlanId != theirs[i].vlanId || mine[i].defaultId != theirs[i].defaultId ||
          mine[i].fragId != theirs[i].fragId) {
         return false;
      }
   }
   return true;
}

bool EntryIdTableEntry::operator!() const { return size_ == 0 && key_ == Ember::NatHwKey(); }

Kiv::String EntryIdTableEntry::stringValue() const {
   return "Value('Tessel::EntryIdTableEntry', ** {'key': " + key_.toString() +
          ", 'defaultEntryId': None, 'fragEntryId': None})";
}

size_t EntryIdTableEntry::hash() const {
   Kiv::throwTypeException(Kiv::typeErrorText("Tessel::EntryIdTableEntry", "hash"));
}

Kiv::Ptr<Kiv::TypeNode> EntryIdTableEntry::typeNode() {
   static const Kiv::Ptr<Kiv::TypeNode> node = [] {
      using E = EntryIdTableEntry;
      Kiv::Ptr<Kiv::TypeNode> type(new Kiv::TypeNode("Tessel::EntryIdTableEntry"));
      type->valueAttributeIs(Kiv::valueAttribute("key", &E::key));
      type->valueCollectionIs(Kiv::valueCollection("defaultEntryId", &E::defaultEntryId));
      type->valueCollectionIs(Kiv::valueCollection("fragEntryId", &E::fragEntryId));
      type->valueTextIs([](const std::any& value) {
         return Kiv::valueAs<E>(value, "stringValue").stringValue();
      });
      return type;
   }();
   return node;
}

}  // namespace Tessel

#pragma once

#include <type_traits>

#include "platform/ember/nat_hw_data.h"
#include "platform/ember/nat_hw_key.h"
#include "platform/kiv/string.h"
#include "platform/kiv/types.h"

namespace Ember {

// The agent's copy of one NAT hardware entry, with what the next commit has to do to the
// hardware for it.
class NatHwShadowEntry {
public:
   // The number is what the commit path reads; it may find a value outside this list and
   // must then leave the entry alone.
   enum class Dirty : U8 {
      clean = 0,    // hardware matches the shadow
      dirty = 1,    // to be programmed
      deleted = 2,  // to be removed from hardware
   };

   NatHwShadowEntry() = default;
   NatHwShadowEntry(const NatHwKey& key, const NatHwData& data, Dirty dirty)
       : key_(key), data_(data), dirty_(dirty) {}

   const NatHwKey& key() const { return key_; }
   const NatHwData& data() const { return data_; }
   Dirty dirty() const { return dirty_; }

   U8 protocol() const { return data_.protocol(); }
   Netbase::IpAddrWithFullMask filterAddr() const { return data_.filterAddr(); }
   U32 faIdLimit() const { return data_.faIdLimit(); }
   U64 nextHop() const { return data_.nextHop(); }
   U32 vlanIds() const { return data_.vlanIds(); }
   U16 vlanId(NatVlanIdIndex i) const { return data_.vlanId(i); }

   void dataIs(const NatHwData& data) { data_ = data; }
   void dirtyIs(Dirty dirty) { dirty_ = dirty; }

   // "<key> <data> dirty: <state>"
   Kiv::String stringValue() const;

   friend bool operator==(const NatHwShadowEntry&, const NatHwShadowEntry&) = default;

private:
   NatHwKey key_;
   NatHwData data_;
   Dirty dirty_ = Dirty::clean;
};

static_assert(std::is_trivially_copyable_v<NatHwShadowEntry>);
static_assert(sizeof(NatHwShadowEntry::Dirty) == 1);

// "clean", "dirty", "deleted", or "unknown(N)".
Kiv::String text(NatHwShadowEntry::Dirty dirty);

}  // namespace Ember

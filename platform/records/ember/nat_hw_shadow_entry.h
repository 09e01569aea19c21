#pragma once

#include <span>
#include <type_traits>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/records/ember/nat_hw_data.h"
#include "platform/records/ember/nat_hw_key.h"

namespace Ember {

// The agent's copy of one NAT hardware entry, with what the next commit has to do to the
// hardware for it. It is a shared record, laid out flat as its writer stores it: the data's
// fields, then the VLAN count and its slots.
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
   NatHwShadowEntry(const NatHwKey& key, const NatHwData& data, Dirty dirty);

   const NatHwKey& key() const { return key_; }
   Dirty dirty() const { return dirty_; }

   U8 protocol() const { return protocol_; }
   Netbase::IpAddrWithFullMask filterAddr() const { return filterAddr_; }
   U32 faIdLimit() const { return faIdLimit_; }
   U64 nextHop() const { return nextHop_; }
   // The VLAN count as its writer stored it, which a faulty writer may have set above the 64
   // slots; readers copy count and slots with NatHwData::vlanIdsIs, which refuses such a count
   // and never reads beyond the slots.
   U32 vlanIds() const { return vlanIdCount_; }
   std::span<const U16, NatHwData::VlanIds::capacity> vlanIdSlots() const { return vlanIdSlots_; }

   void dataIs(const NatHwData& data);
   void dirtyIs(Dirty dirty) { dirty_ = dirty; }
   // Stores `count` as it is, unchecked, as a faulty writer of the shared record could.
   void vlanIdCountIs(U32 count) { vlanIdCount_ = count; }

   friend bool operator==(const NatHwShadowEntry&, const NatHwShadowEntry&) = default;

private:
   NatHwKey key_;
   U8 protocol_ = 0;
   Netbase::IpAddrWithFullMask filterAddr_;
   U32 faIdLimit_ = 0;
   U64 nextHop_ = 0;
   U32 vlanIdCount_ = 0;
   U16 vlanIdSlots_[NatHwData::VlanIds::capacity] = {};
   Dirty dirty_ = Dirty::clean;
};

static_assert(std::is_trivially_copyable_v<NatHwShadowEntry>);
static_assert(sizeof(NatHwShadowEntry::Dirty) == 1);

// "clean", "dirty", "deleted", or "unknown(N)".
Kiv::String text(NatHwShadowEntry::Dirty dirty);

}  // namespace Ember

#pragma once

#include <span>
#include <type_traits>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/records/ember/nat_vlan_id_index.h"
#include "platform/records/ferro/pod_array.h"
#include "platform/records/netbase/ip_addr_with_full_mask.h"

namespace Ember {

// What a NAT hardware entry does once its key matches: the protocol and address filter it
// applies, its flow limit, where translated packets go and on which VLANs it applies.
class NatHwData {
public:
   using VlanIds = Ferro::PodArray<U16, 64, NatVlanIdIndex>;

   NatHwData() = default;
   NatHwData(U8 protocol, Netbase::IpAddrWithFullMask filterAddr, U32 faIdLimit, U64 nextHop)
       : protocol_(protocol), filterAddr_(filterAddr), faIdLimit_(faIdLimit), nextHop_(nextHop) {}

   U8 protocol() const { return protocol_; }
   Netbase::IpAddrWithFullMask filterAddr() const { return filterAddr_; }
   U32 faIdLimit() const { return faIdLimit_; }
   U64 nextHop() const { return nextHop_; }

   // The number of VLAN ids, and the id in slot i.
   U32 vlanIds() const { return vlanIds_.count(); }
   U16 vlanId(NatVlanIdIndex i) const { return vlanIds_[i]; }
   // Replaces the VLAN ids with the first `count` of `source`; more than 64 raises
   // Sentry::InvalidSizeException and changes nothing (Ferro::PodArray::set).
   void vlanIdsIs(U32 count, std::span<const U16> source) { vlanIds_.set(count, source); }

   // "protocol: 6 filter: 10.0.0.0/255.0.0.0 faIdLimit: 100 nextHop: 7 vlanIds: [10, 20]"
   Kiv::String stringValue() const;

   friend bool operator==(const NatHwData&, const NatHwData&) = default;

private:
   U8 protocol_ = 0;
   Netbase::IpAddrWithFullMask filterAddr_;
   U32 faIdLimit_ = 0;
   U64 nextHop_ = 0;
   VlanIds vlanIds_;
};

static_assert(std::is_trivially_copyable_v<NatHwData>);

}  // namespace Ember

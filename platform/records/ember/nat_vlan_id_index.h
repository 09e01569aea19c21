#pragma once

#include <type_traits>

#include "platform/framework/kiv/range_value.h"
#include "platform/framework/kiv/types.h"

namespace Ember {

// Slot number in a NAT entry's VLAN id list.
struct NatVlanIdIndexTraits {
   using Value = U32;
   static constexpr Value min = 0;
   static constexpr Value max = 63;
   static constexpr const char* rangeText =
       "NatVlanIdIndex::value < NatVlanIdIndex::min or > NatVlanIdIndex::max not allowed";
};
using NatVlanIdIndex = Kiv::RangeValue<NatVlanIdIndexTraits>;

static_assert(std::is_trivially_copyable_v<NatVlanIdIndex>);

}  // namespace Ember

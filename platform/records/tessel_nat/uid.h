#pragma once

#include <type_traits>

#include "platform/framework/kiv/range_value.h"
#include "platform/framework/kiv/types.h"

namespace TesselNat {

// The identity the NAT control plane gives a hardware key. 0 is never handed out: records
// that carry a uid keep it as a raw U32 so that their all-zero default record stays valid,
// and read 0 as "no uid".
struct UidTraits {
   using Value = U32;
   static constexpr Value min = 1;
   static constexpr Value max = 65535;
   static constexpr const char* rangeText = "Uid::value < Uid::min or > Uid::max not allowed";
};
using Uid = Kiv::RangeValue<UidTraits>;

static_assert(std::is_trivially_copyable_v<Uid>);

}  // namespace TesselNat

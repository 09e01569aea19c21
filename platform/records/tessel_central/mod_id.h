#pragma once

#include <type_traits>

#include "platform/framework/kiv/range_value.h"
#include "platform/framework/kiv/types.h"

namespace TesselCentral {

// A line-card module number. 0..63 name modules; the top value, 64, is the null module
// ("no module"), which is why the range text names it rather than a max.
struct ModIdTraits {
   using Value = U16;
   static constexpr Value min = 0;
   static constexpr Value max = 64;
   static constexpr const char* rangeText =
       "ModId::value < ModId::min or > ModId::null not allowed";
};
using ModId = Kiv::RangeValue<ModIdTraits>;

inline constexpr U16 nullModIdValue = ModIdTraits::max;

static_assert(std::is_trivially_copyable_v<ModId>);

}  // namespace TesselCentral

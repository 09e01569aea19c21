#pragma once

#include <compare>
#include <concepts>
#include <utility>

#include "platform/framework/kiv/errors.h"

namespace Kiv {

// A number restricted to [Traits::min, Traits::max]. Construction outside the range raises
// the range error with Traits::rangeText. Traits supplies `using Value`, `min`, `max` and
// `rangeText`.
template <class Traits>
class RangeValue {
public:
   using Value = typename Traits::Value;
   static constexpr Value min = Traits::min;
   static constexpr Value max = Traits::max;

   constexpr RangeValue() : value_(Traits::min) {}
   // Any integer is accepted and checked before it is narrowed, so 65536 is refused by a
   // 16-bit type instead of wrapping to 0.
   template <std::integral I>
   RangeValue(I value) : value_(checked(value)) {}

   Value value() const { return value_; }
   operator Value() const { return value_; }

   friend bool operator==(RangeValue a, RangeValue b) { return a.value_ == b.value_; }
   friend auto operator<=>(RangeValue a, RangeValue b) { return a.value_ <=> b.value_; }

private:
   template <std::integral I>
   static Value checked(I value) {
      if (std::cmp_less(value, Traits::min) || std::cmp_greater(value, Traits::max)) {
         throwRangeException(Traits::rangeText);
      }
      return static_cast<Value>(value);
   }

   Value value_;
};

}  // namespace Kiv

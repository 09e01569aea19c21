#include "platform/kiv/range_value.h"

#include <gtest/gtest.h>

#include "platform/kiv/types.h"

namespace {

struct PercentTraits {
   using Value = U8;
   static constexpr Value min = 1;
   static constexpr Value max = 100;
   static constexpr const char* rangeText =
       "Percent::value < Percent::min or > Percent::max not allowed";
};
using Percent = Kiv::RangeValue<PercentTraits>;

TEST(RangeValueTest, AcceptsBothEndsAndRefusesOneBeyondEach) {
   EXPECT_EQ(Percent(1).value(), 1);
   EXPECT_EQ(Percent(100).value(), 100);
   for (long long outside : {0LL, 101LL, -1LL, 257LL}) {
      try {
         Percent p(outside);
         ADD_FAILURE() << outside << " accepted as " << int(p.value());
      } catch (const Kiv::RangeException& e) {
         EXPECT_STREQ(e.what(), "Percent::value < Percent::min or > Percent::max not allowed");
      }
   }
}

TEST(NameInUseTextTest, NamesAttributeAndBothValues) {
   EXPECT_EQ(Kiv::nameInUseText("shadow", "A", "B"),
             "Reinstantiating the pointer interface where constructor parameter attribute _shadow "
             "has a different value of A than the current value of B not allowed");
}

}  // namespace

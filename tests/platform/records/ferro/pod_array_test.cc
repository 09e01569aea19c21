#include "platform/records/ferro/pod_array.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/framework/kiv/assert.h"
#include "platform/framework/kiv/range_value.h"
#include "platform/framework/kiv/string.h"
#include "platform/framework/sentry/exception.h"

namespace {

struct SlotTraits {
   using Value = U32;
   static constexpr Value min = 0;
   static constexpr Value max = 2;
   static constexpr const char* rangeText = "Slot out of range";
};
using Slot = Kiv::RangeValue<SlotTraits>;
using Array = Ferro::PodArray<U16, 3, Slot>;

TEST(PodArrayTest, TooManyValuesRaiseTheSizeErrorWithTheBufferInHexAndChangeNothing) {
   Array array;
   const U16 values[] = {0x0a00, 0x10ff, 0x0001, 0x0002};
   array.set(3, values);
   const Array before = array;
   // Counts beyond the array; one the source does not hold dumps the source only, and says so.
   for (const auto& [count, shown] :
        {std::pair<U32, const char*>{4, ""}, {0xFFFF, " (first 8 of 131070 bytes shown)"}}) {
      EXPECT_THAT(([&, count = count] { array.set(count, values); }),
                  testing::ThrowsMessage<Sentry::InvalidSizeException>(testing::StrEq(Kiv::format(
                      "PodArray::set expected size <= 3, instead got %u. Buffer is at address: "
                      "%p with contents: 00 0a ff 10 01 00 02 00%s",
                      count, static_cast<const void*>(values), shown))));
   }
   EXPECT_EQ(array, before);
   EXPECT_EQ(array[Slot(2)], 0x0001);
}

TEST(PodArrayTest, ACountWithinTheArrayThatTheSourceDoesNotHoldStopsTheAgent) {
   const Kiv::AssertionHandler previous = Kiv::assertionHandlerIs(&Kiv::throwingAssertionHandler);
   const U16 values[] = {1, 2};
   Array array;
   EXPECT_THAT([&] { array.set(3, values); },
               testing::Throws<Kiv::AssertionFailure>(testing::Property(
                   &Kiv::AssertionFailure::expression, testing::StrEq("count <= source.size()"))));
   EXPECT_EQ(array.count(), 0u);
   Kiv::assertionHandlerIs(previous);
}

TEST(PodArrayTest, EqualityIgnoresSlotsBeyondCount) {
   const U16 values[] = {1, 2, 3};
   Array a;
   Array b;
   a.set(3, values);
   a.set(2, {values + 1, 2});
   b.set(2, {values + 1, 2});
   EXPECT_EQ(a, b);
   b.set(2, values);
   EXPECT_NE(a, b);
}

}  // namespace

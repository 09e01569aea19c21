#include "platform/records/ferro/pod_array.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "platform/framework/kiv/range_value.h"
#include "platform/framework/kiv/string.h"
#include "platform/framework/sentry/exception.h"

namespace {

struct SlotTraits {
   using Value = U32;
   static constexpr Value min = 0;
   static constexpr Value max = 63;
   static constexpr const char* rangeText = "Slot out of range";
};
using Slot = Kiv::RangeValue<SlotTraits>;
using Array = Ferro::PodArray<U16, 64, Slot>;

std::vector<U16> sequence(size_t size, U16 first) {
   std::vector<U16> values(size);
   std::iota(values.begin(), values.end(), first);
   return values;
}

TEST(PodArrayTest, SetCopiesUpToCapacityAndBeyondThrowsChangingNothing) {
   Array array;
   const auto values = sequence(64, 100);
   array.set(64, values.data());
   EXPECT_EQ(array.count(), 64u);
   EXPECT_EQ(array[Slot(0)], 100);
   EXPECT_EQ(array[Slot(63)], 163);
   const Array before = array;

   const auto tooMany = sequence(65, 0x0102);
   const Kiv::String expected =
       Kiv::format(
           "PodArray::set expected size <= 64, instead got 65. Buffer is at address: %p "
           "with contents: ",
           static_cast<const void*>(tooMany.data())) +
       Sentry::dumpHex(tooMany.data(), 2 * 65);
   EXPECT_THAT([&] { array.set(65, tooMany.data()); },
               testing::ThrowsMessage<Sentry::InvalidSizeException>(testing::StrEq(expected)));
   EXPECT_EQ(array, before);
}

TEST(PodArrayTest, EqualityIgnoresSlotsBeyondCount) {
   Array a;
   Array b;
   const auto values = sequence(4, 1);
   a.set(4, values.data());
   a.set(2, values.data() + 1);
   EXPECT_EQ(a[Slot(1)], 3);
   b.set(2, values.data() + 1);
   EXPECT_EQ(a, b);
   b.set(2, values.data());
   EXPECT_NE(a, b);
}

}  // namespace

#include "platform/tessel_nat/uid.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using TesselNat::Uid;
using testing::StrEq;
using testing::ThrowsMessage;

TEST(UidTest, AcceptsOneTo65535) {
   EXPECT_EQ(Uid(1).value(), 1u);
   EXPECT_EQ(Uid(65535).value(), 65535u);
   for (long outside : {0L, 65536L, -1L}) {
      EXPECT_THAT([outside] { Uid{outside}; },
                  ThrowsMessage<Kiv::RangeException>(
                      StrEq("Uid::value < Uid::min or > Uid::max not allowed")))
          << outside;
   }
}

}  // namespace

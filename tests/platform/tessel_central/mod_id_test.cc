#include "platform/tessel_central/mod_id.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using TesselCentral::ModId;
using testing::StrEq;
using testing::ThrowsMessage;

TEST(ModIdTest, AcceptsModulesAndNullRefusesBeyond) {
   EXPECT_EQ(ModId(0).value(), 0);
   EXPECT_EQ(ModId(64).value(), TesselCentral::nullModIdValue);
   for (int outside : {-1, 65, 65536}) {
      EXPECT_THAT([outside] { ModId{outside}; },
                  ThrowsMessage<Kiv::RangeException>(
                      StrEq("ModId::value < ModId::min or > ModId::null not allowed")))
          << outside;
   }
}

}  // namespace

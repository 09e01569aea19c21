#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "platform/records/ember/nat_vlan_id_index.h"
#include "platform/records/tessel_central/mod_id.h"
#include "platform/records/tessel_nat/uid.h"

namespace {

TEST(RangeTypesTest, AcceptBothEndsAndRefuseBeyondWithTheirOwnText) {
   const struct {
      const char* name;
      std::function<long long(long long)> make;  // constructs the value and reads it back
      long long min;
      long long max;
      long long wrapsToValid;  // out of range, but a valid value once cut to the stored width
      const char* text;
   } cases[] = {
       {"ModId", [](long long v) { return TesselCentral::ModId(v).value(); }, 0, 64, 65536,
        "ModId::value < ModId::min or > ModId::null not allowed"},
       {"Uid", [](long long v) { return TesselNat::Uid(v).value(); }, 1, 65535, 1LL << 32 | 1,
        "Uid::value < Uid::min or > Uid::max not allowed"},
       {"NatVlanIdIndex", [](long long v) { return Ember::NatVlanIdIndex(v).value(); }, 0, 63,
        1LL << 32,
        "NatVlanIdIndex::value < NatVlanIdIndex::min or > NatVlanIdIndex::max not allowed"},
   };
   for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(c.make(c.min), c.min);
      EXPECT_EQ(c.make(c.max), c.max);
      for (long long outside : {c.min - 1, c.max + 1, c.wrapsToValid}) {
         EXPECT_THAT([&] { c.make(outside); },
                     testing::ThrowsMessage<Kiv::RangeException>(testing::StrEq(c.text)))
             << outside;
      }
   }
}

}  // namespace

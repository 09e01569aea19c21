#include "platform/ember/nat_hw_data.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "platform/ember/nat_hw_shadow_entry.h"
#include "platform/sentry/exception.h"

namespace {

using Ember::NatHwData;
using Ember::NatHwShadowEntry;
using Ember::NatVlanIdIndex;
using Netbase::IpAddr;

const Netbase::IpAddrWithFullMask filter(IpAddr("10.0.0.0"), 0xFF000000u);

TEST(NatVlanIdIndexTest, AcceptsZeroTo63) {
   EXPECT_EQ(NatVlanIdIndex(0).value(), 0u);
   EXPECT_EQ(NatVlanIdIndex(63).value(), 63u);
   for (int outside : {-1, 64}) {
      EXPECT_THAT([outside] { NatVlanIdIndex{outside}; },
                  testing::ThrowsMessage<Kiv::RangeException>(testing::StrEq(
                      "NatVlanIdIndex::value < NatVlanIdIndex::min or > NatVlanIdIndex::max "
                      "not allowed")))
          << outside;
   }
}

TEST(NatHwDataTest, VlanIdsReplaceAndRefuseOverflow) {
   NatHwData data(6, filter, 100, 0x1234567890ull);
   EXPECT_EQ(data.vlanIds(), 0u);
   const std::vector<U16> vlans = {10, 20, 4094};
   data.vlanIdsIs(3, vlans.data());
   EXPECT_EQ(data.vlanIds(), 3u);
   EXPECT_EQ(data.vlanId(NatVlanIdIndex(2)), 4094);
   EXPECT_EQ(data.stringValue(),
             "protocol: 6 filter: 10.0.0.0/255.0.0.0 faIdLimit: 100 "
             "nextHop: 78187493520 vlanIds: [10, 20, 4094]");

   const std::vector<U16> tooMany(65, 1);
   const NatHwData before = data;
   EXPECT_THROW(data.vlanIdsIs(65, tooMany.data()), Sentry::InvalidSizeException);
   EXPECT_EQ(data, before);
}

TEST(NatHwShadowEntryTest, DirtyTextAndEquality) {
   EXPECT_EQ(Ember::text(NatHwShadowEntry::Dirty::clean), "clean");
   EXPECT_EQ(Ember::text(NatHwShadowEntry::Dirty::dirty), "dirty");
   EXPECT_EQ(Ember::text(NatHwShadowEntry::Dirty::deleted), "deleted");
   EXPECT_EQ(Ember::text(static_cast<NatHwShadowEntry::Dirty>(9)), "unknown(9)");

   const Ember::NatHwKey key = Ember::NatHwKey().faIdIs(3);
   NatHwShadowEntry entry(key, NatHwData(17, filter, 5, 9), NatHwShadowEntry::Dirty::dirty);
   EXPECT_EQ(entry.protocol(), 17);
   EXPECT_EQ(entry.filterAddr(), filter);
   EXPECT_NE(entry, NatHwShadowEntry());
   NatHwShadowEntry other = entry;
   other.dirtyIs(NatHwShadowEntry::Dirty::clean);
   EXPECT_NE(entry, other);
}

}  // namespace

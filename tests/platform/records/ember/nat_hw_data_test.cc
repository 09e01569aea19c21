#include "platform/records/ember/nat_hw_data.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/records/ember/nat_hw_shadow_entry.h"

namespace {

using Ember::NatHwData;
using Ember::NatHwShadowEntry;
using Ember::NatVlanIdIndex;
using Netbase::IpAddr;

const Netbase::IpAddrWithFullMask filter(IpAddr("10.0.0.0"), 0xFF000000u);

TEST(NatHwDataTest, VlanIdsAreStoredAndPrinted) {
   NatHwData data(6, filter, 100, 0x1234567890ull);
   const std::vector<U16> vlans = {10, 20, 4094};
   data.vlanIdsIs(3, vlans.data());
   EXPECT_EQ(data.vlanId(NatVlanIdIndex(2)), 4094);
   EXPECT_EQ(data.stringValue(),
             "protocol: 6 filter: 10.0.0.0/255.0.0.0 faIdLimit: 100 "
             "nextHop: 78187493520 vlanIds: [10, 20, 4094]");
}

TEST(NatHwShadowEntryTest, DirtyTextAndEquality) {
   EXPECT_EQ(Ember::text(NatHwShadowEntry::Dirty::clean), "clean");
   EXPECT_EQ(Ember::text(NatHwShadowEntry::Dirty::deleted), "deleted");
   EXPECT_EQ(Ember::text(static_cast<NatHwShadowEntry::Dirty>(9)), "unknown(9)");

   NatHwShadowEntry entry(Ember::NatHwKey().faIdIs(3), NatHwData(17, filter, 5, 9),
                          NatHwShadowEntry::Dirty::dirty);
   NatHwShadowEntry other = entry;
   other.dirtyIs(NatHwShadowEntry::Dirty::clean);
   EXPECT_NE(entry, other);
}

}  // namespace

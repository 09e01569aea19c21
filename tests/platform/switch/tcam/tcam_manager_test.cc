#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "platform/switch/tcam/tessel_tcam_group_manager.h"
#include "tests/platform/switch/sdk/sdk_fixture.h"

namespace TcamTest {
namespace {

constexpr U16 unit = 1;
const TcamGroupConfig natConfig{145, 12, 4, 2, 2};

// Unit TCAMs of 64 slots (the fixture's chip): the NAT group first with 4 entries per unit,
// then an ACL group with 8.
class TcamManagerTest : public ShimTest::SdkFixture {
protected:
   U32 getEntry() { return nat->getEntry(unit, "NAT"); }
   // Entries are installed matching every packet, so the hit shows which one sits first.
   std::optional<U32> hit() {
      const std::optional<Chip::Match> match = chip_.classify(unit, Chip::Packet{});
      return match ? std::optional<U32>(match->entryId) : std::nullopt;
   }

   Kiv::Ptr<TesselTcamGroupManager> groups{new TesselTcamGroupManager(64)};
   Kiv::Ptr<TesselUnboundedTcamEntryManager> nat = groups->unboundedEntryManagerIs(natConfig);
   Kiv::Ptr<TesselUnboundedTcamEntryManager> acl =
       groups->unboundedEntryManagerIs(TcamGroupConfig{9, 13, 8, 1, 1});
};

TEST_F(TcamManagerTest, FreedEntryIsDestroyedReusedLowestFirstAndFreedOnlyOnce) {
   const U32 aclEntry = acl->getEntry(unit, "ACL");
   const U32 kept = getEntry();
   const U32 second = getEntry();
   const U32 third = getEntry();
   const U32 fourth = getEntry();
   EXPECT_EQ(getEntry(), 0u) << "the group is full";
   nat->freeEntry(unit, third);
   nat->freeEntry(unit, second);
   EXPECT_FALSE(chip_.entry(unit, second));
   for (const std::pair<U16, U32>& freed : {std::pair<U16, U32>{unit, second}, {0, kept},
                                             {unit, aclEntry}}) {
      EXPECT_THAT([&] { nat->freeEntry(freed.first, freed.second); },
                  testing::Throws<Kiv::AssertionFailure>(testing::Property(
                      &Kiv::AssertionFailure::expression, "isHeld( unit, entryId )")))
          << "freeing " << freed.second << " on unit " << freed.first;
   }
   EXPECT_EQ(nat->entriesHeld(unit), (std::set<U32>{kept, fourth}));
   EXPECT_EQ(chip_.entryCount(unit), 3u) << "the other group's entry is still there";
   EXPECT_EQ(getEntry(), second);
   EXPECT_EQ(getEntry(), third);
   EXPECT_EQ(getEntry(), 0u) << "each freed entry is handed out once";
   EXPECT_EQ(chip_.entry(unit, third)->group(), 12);
}

TEST_F(TcamManagerTest, PlacementDecidesTheOrderTheChipMatchesIn) {
   const U32 aclEntry = acl->getEntry(unit, "ACL");
   EXPECT_EQ(aclEntry, natConfig.entriesPerUnit + 1) << "a later group takes later slots";
   acl->installEntry(unit, aclEntry);
   const U32 low = getEntry();
   const U32 high = getEntry();
   nat->installEntry(unit, high);
   EXPECT_EQ(hit(), high);
   nat->installEntry(unit, low);
   EXPECT_EQ(hit(), low);
   nat->freeEntry(unit, low);
   EXPECT_EQ(hit(), high);
   EXPECT_EQ(getEntry(), low);
   EXPECT_EQ(hit(), high) << "the reused slot matches nothing until installed";
   nat->reinstallEntry(unit, low);
   EXPECT_EQ(hit(), low);
   EXPECT_THROW(groups->unboundedEntryManagerIs(TcamGroupConfig{10, 14, 53, 1, 1}),
                Kiv::AssertionFailure)
       << "only 52 slots are left";
}

}  // namespace
}  // namespace TcamTest

#include <gtest/gtest.h>

#include <set>

#include "platform/framework/kiv/errors.h"
#include "platform/switch/sdk/return_code.h"
#include "platform/switch/tcam/tessel_tcam_group_manager.h"
#include "tests/platform/switch/sdk/sdk_fixture.h"

namespace TcamTest {
namespace {

constexpr U16 unit = 1;
constexpr TcamGroupAssignment natAssignment = 145;
const TcamGroupConfig natConfig{natAssignment, 12, 4, 2, 2};

// Unit TCAMs of 64 slots (the fixture's chip), the NAT group first with 4 entries per unit.
class TcamManagerTest : public ShimTest::SdkFixture {
protected:
   U32 getEntry(U16 onUnit = unit) { return nat->getEntry(onUnit, "NAT"); }
   // Installs a match-all entry, so that classification shows where it sits.
   void install(U32 entryId) { nat->installEntry(unit, entryId); }
   std::optional<U32> hit() {
      const std::optional<Chip::Match> match = chip_.classify(unit, Chip::Packet{});
      return match ? std::optional<U32>(match->entryId) : std::nullopt;
   }

   Kiv::Ptr<TesselTcamGroupManager> groups{new TesselTcamGroupManager(64)};
   Kiv::Ptr<TesselUnboundedTcamEntryManager> nat = groups->unboundedEntryManagerIs(natConfig);
};

TEST_F(TcamManagerTest, FullGroupGivesZeroWithoutCallingTheChipAndLeavesOtherUnitsAlone) {
   const std::set<U32> ids{getEntry(), getEntry(), getEntry(), getEntry()};
   EXPECT_EQ(ids.size(), 4u);
   EXPECT_FALSE(ids.contains(0));
   const std::size_t callsBefore = traces_.messages().size();
   EXPECT_EQ(getEntry(), 0u);
   EXPECT_EQ(traces_.messages().size(), callsBefore);
   EXPECT_EQ(nat->entriesHeld(unit), ids);
   EXPECT_EQ(chip_.entryCount(unit), 4u);

   const U32 onUnit0 = getEntry(0);
   EXPECT_NE(onUnit0, 0u);
   EXPECT_EQ(nat->entriesHeld(0), std::set<U32>{onUnit0});
   EXPECT_EQ(nat->entryName(0, onUnit0), "NAT");
}

TEST_F(TcamManagerTest, PipeCopyIndexesAreDistinct) {
   std::set<U32> indexes;
   for (int i = 0; i < 4; ++i) {
      const U32 entryId = getEntry();
      for (U8 pipe = 0; pipe < groups->getNumPipe(nat->group()); ++pipe) {
         for (U8 copy = 0; copy < groups->getNumCopiesPerPipe(unit, nat->group()); ++copy) {
            indexes.insert(nat->getPipeEntryId(unit, pipe, entryId, copy));
         }
      }
   }
   EXPECT_EQ(indexes.size(), 4u * 2 * 2);
   EXPECT_THROW(nat->getPipeEntryId(unit, 2, 1, 0), Kiv::AssertionFailure);
}

TEST_F(TcamManagerTest, FreedEntryIsDestroyedReusedLowestFirstAndFreedOnlyOnce) {
   const auto acl = groups->unboundedEntryManagerIs(TcamGroupConfig{9, 13, 8, 1, 1});
   const U32 aclEntry = acl->getEntry(unit, "ACL");
   const U32 kept = getEntry();
   const U32 second = getEntry();
   const U32 third = getEntry();
   nat->freeEntry(unit, third);
   nat->freeEntry(unit, second);
   EXPECT_FALSE(chip_.entry(unit, second));
   for (const auto& [onUnit, entryId] :
        {std::pair<U16, U32>{unit, second}, {0, kept}, {unit, aclEntry}}) {
      try {
         nat->freeEntry(onUnit, entryId);
         ADD_FAILURE() << "freed " << entryId << " on unit " << onUnit;
      } catch (const Kiv::AssertionFailure& failure) {
         EXPECT_EQ(failure.expression(), "isHeld( unit, entryId )");
      }
   }
   EXPECT_EQ(nat->entriesHeld(unit), std::set<U32>{kept});
   EXPECT_EQ(chip_.entryCount(unit), 2u) << "the other group's entry is still there";
   EXPECT_EQ(getEntry(), second) << "lowest first, and returned once only";
   EXPECT_EQ(getEntry(), third);
   EXPECT_EQ(getEntry(), third + 1);
   EXPECT_EQ(chip_.entry(unit, third)->group(), 12);
}

TEST_F(TcamManagerTest, PlacementDecidesTheOrderTheChipMatchesIn) {
   const auto acl = groups->unboundedEntryManagerIs(TcamGroupConfig{9, 13, 8, 1, 1});
   const U32 aclEntry = acl->getEntry(unit, "ACL");
   EXPECT_EQ(aclEntry, natConfig.entriesPerUnit + 1) << "a later group takes later slots";
   acl->installEntry(unit, aclEntry);
   const U32 low = getEntry();
   const U32 high = getEntry();
   install(high);
   EXPECT_EQ(hit(), high);
   install(low);
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

TEST_F(TcamManagerTest, ChipFailureInsideTheManagerIsFatalNamingTheManager) {
   Shim::sdk_.faultInjector().failNthCallIs(Shim::Operation::entryCreate, 1,
                                            Shim::code(Shim::SdkError::tableFull));
   testing::internal::CaptureStderr();
   try {
      getEntry();
      ADD_FAILURE() << "no assertion";
   } catch (const Kiv::AssertionFailure& failure) {
      EXPECT_EQ(failure.expression(), "0");
      EXPECT_EQ(failure.function(),
                "U32 TesselUnboundedTcamEntryManager::getEntry(U16, const Kiv::String&)");
   }
   EXPECT_TRUE(testing::internal::GetCapturedStderr().ends_with(
       " bcm_field_entry_create_at( unit, group(), entryId, slot ) API ERROR:Table full (-25)\n"));
}

TEST_F(TcamManagerTest, GroupManagerFindsOrCreatesByAssignmentAndIsNotKeptAlive) {
   EXPECT_EQ(groups->unboundedEntryManager(natAssignment), nat);
   EXPECT_EQ(groups->unboundedEntryManager(146), nullptr);
   EXPECT_EQ(groups->unboundedEntryManagerIs(natConfig), nat);
   TcamGroupConfig bigger = natConfig;
   bigger.entriesPerUnit = 8;
   try {
      groups->unboundedEntryManagerIs(bigger);
      ADD_FAILURE() << "no error";
   } catch (const Kiv::NameInUseException& error) {
      EXPECT_STREQ(error.what(),
                   "Reinstantiating the pointer interface where constructor parameter attribute "
                   "_entriesPerUnit has a different value of 8 than the current value of 4 not "
                   "allowed");
   }
   EXPECT_EQ(nat->groupManager(), groups.ptr());
   groups = nullptr;
   EXPECT_EQ(nat->groupManager(), nullptr) << "a reference outliving the group manager";
}

}  // namespace
}  // namespace TcamTest

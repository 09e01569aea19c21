#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <set>

#include "platform/framework/kiv/event_loop.h"
#include "platform/switch/sdk/sdk_call.h"
#include "platform/switch/tcam/tessel_tcam_group_manager.h"
#include "tests/platform/switch/sdk/sdk_fixture.h"

namespace TcamTest {
namespace {

constexpr U16 unit = 1;
// Pipes and copies differ in number, so that one taken for the other shows.
const TcamGroupConfig natConfig{145, 12, 4, 2, 3};

// Unit TCAMs of 64 slots: the NAT group first with 4 entries per unit, then an ACL group
// with 8.
class TcamManagerTest : public ShimTest::SdkFixture {
protected:
   TcamManagerTest() : SdkFixture({4, 64, natConfig.pipes, natConfig.copiesPerPipe}) {}

   U32 getEntry() { return nat->getEntry(unit, "NAT"); }
   // A NAT entry installed matching every packet, or only packets to `port`.
   U32 installedEntry(std::optional<U16> port = std::nullopt) {
      const U32 id = getEntry();
      EXPECT_NE(id, 0u);
      if (port) SDK_CALL( bcm_field_qualify_L4DstPort( unit, id, *port, -1 ) );
      nat->installEntry(unit, id);
      return id;
   }
   // Of entries matching every packet, the hit shows which one sits first.
   std::optional<U32> hit(U16 port = 0) {
      const std::optional<Chip::Match> match = chip_.classify(unit, Chip::Packet{.dstPort = port});
      return match ? std::optional<U32>(match->entryId) : std::nullopt;
   }
   // The agent restarts warm: its managers go, the chip keeps its entries and keeps matching.
   void restartWarm() {
      nat = acl = nullptr;
      groups = new TesselTcamGroupManager(64, TesselTcamGroupManager::Start::warm, {unit});
      nat = groups->unboundedEntryManagerIs(natConfig);
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
   for (const std::pair<U16, U32>& freed :
        {std::pair<U16, U32>{unit, second}, {0, kept}, {unit, aclEntry}}) {
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

TEST_F(TcamManagerTest, HardwareIndexesNameTheEntryInEveryPipeAndCopyAndNeverCollide) {
   std::set<U32> indexes;
   for (U32 held = 0; held < natConfig.entriesPerUnit; ++held) {
      const U32 entryId = getEntry();
      for (U8 pipe = 0; pipe < groups->getNumPipe(natConfig.group); ++pipe) {
         for (U8 copy = 0; copy < groups->getNumCopiesPerPipe(unit, natConfig.group); ++copy) {
            const U32 index = nat->getPipeEntryId(unit, pipe, entryId, copy);
            EXPECT_EQ(chip_.entryAtHardwareIndex(unit, index),
                      (Chip::SimulatedChip::HardwareCopy{entryId, pipe, copy}));
            indexes.insert(index);
         }
      }
   }
   EXPECT_EQ(indexes.size(), 4u * 2 * 3);
}

TEST_F(TcamManagerTest, WarmStartStagesAFullGroupAndTheFlashDownloadSwapsItInOneStep) {
   // A full group of entries that match only packets to their own port.
   const std::array previous{installedEntry(1000), installedEntry(1001), installedEntry(1002),
                             installedEntry(1003)};
   restartWarm();
   EXPECT_EQ(nat->entriesRecovered(unit), std::set<U32>(previous.begin(), previous.end()));

   const std::array staged{installedEntry(1000), installedEntry(1001), installedEntry(1002),
                           installedEntry(1003)};
   EXPECT_EQ(getEntry(), 0u) << "no more than the group holds";
   for (U32 id : staged) EXPECT_FALSE(std::count(previous.begin(), previous.end(), id));
   EXPECT_EQ(nat->getPipeEntryId(unit, 0, staged[0], 0),
             TesselUnboundedTcamEntryManager::invalidHardwareIndex);
   EXPECT_EQ(hit(1000), previous[0]) << "staged entries match nothing";

   groups->doFlashDownload();
   nat->freeEntry(unit, staged[1]);
   EXPECT_FALSE(nat->warmPhase());
   EXPECT_EQ(hit(1000), staged[0]);
   EXPECT_EQ(hit(1003), staged[3]);
   EXPECT_EQ(hit(1001), std::nullopt);
   EXPECT_FALSE(chip_.entry(unit, previous[0]));
   EXPECT_EQ(chip_.entryCount(unit), natConfig.entriesPerUnit - 1);
   EXPECT_THROW(nat->freeEntry(unit, previous[0]), Kiv::AssertionFailure);
   EXPECT_EQ(getEntry(), staged[1]) << "after the flash download entries come as on a cold start";
   EXPECT_EQ(chip_.entry(unit, staged[1])->slot(), chip_.entry(unit, staged[0])->slot() + 1)
       << "in the slot its freed predecessor left";
}

// A flow inside a host rule: the new run stages them in another order, and a group of higher
// priority comes in a later slot; packets meet them as before.
TEST_F(TcamManagerTest, FlashDownloadKeepsTheOrderPacketsMetAndPriorityComesFirst) {
   const U32 flowBefore = installedEntry(1000);
   installedEntry();
   restartWarm();
   const U32 newFlow = installedEntry(2000);
   const U32 host = installedEntry();
   const U32 flow = installedEntry(1000);
   EXPECT_EQ(hit(1000), flowBefore);
   groups->doFlashDownload();
   EXPECT_EQ(hit(1000), flow);
   EXPECT_EQ(hit(2000), host) << "a key new to the group comes after the keys it had";
   EXPECT_EQ(hit(3000), host);
   EXPECT_TRUE(chip_.entry(unit, newFlow)->placed());
   EXPECT_EQ(chip_.entryAtHardwareIndex(unit, nat->getPipeEntryId(unit, 1, flow, 1)),
             (Chip::SimulatedChip::HardwareCopy{flow, 1, 1}))
       << "the manager records where the chip placed each entry";

   const Kiv::Ptr<TesselUnboundedTcamEntryManager> first =
       groups->unboundedEntryManagerIs({9, 13, 1, 1, 1, /*priority=*/5});
   const U32 anyPacket = first->getEntry(unit, "ACL");
   first->installEntry(unit, anyPacket);
   EXPECT_EQ(hit(1000), anyPacket);
}

// A chip that notes, at each operation the TCAM manager makes, whether its caller kept the
// activity lock for the call.
struct LockNotingChip : Chip::SimulatedChip {
   using SimulatedChip::SimulatedChip;
   S32 noted(S32 rc) {
      lockKept.push_back(Kiv::activityLock().isHeldByThisThread());
      return rc;
   }
   S32 bcm_field_entry_create_at(S32 u, S32 g, U32 e, U32 slot) override {
      return noted(SimulatedChip::bcm_field_entry_create_at(u, g, e, slot));
   }
   S32 bcm_field_entry_create(S32 u, S32 g, U32 e) override {
      return noted(SimulatedChip::bcm_field_entry_create(u, g, e));
   }
   S32 bcm_field_entry_prio_set(S32 u, U32 e, S32 priority) override {
      return noted(SimulatedChip::bcm_field_entry_prio_set(u, e, priority));
   }
   S32 bcm_field_entry_destroy(S32 u, U32 e) override {
      return noted(SimulatedChip::bcm_field_entry_destroy(u, e));
   }
   S32 bcm_field_entry_install(S32 u, U32 e) override {
      return noted(SimulatedChip::bcm_field_entry_install(u, e));
   }
   S32 bcm_field_entry_reinstall(S32 u, U32 e) override {
      return noted(SimulatedChip::bcm_field_entry_reinstall(u, e));
   }
   S32 bcm_field_entry_multi_get(S32 u, S32 g, std::span<U32> ids, U32* count) override {
      return noted(SimulatedChip::bcm_field_entry_multi_get(u, g, ids, count));
   }
   S32 bcm_field_group_flash(S32 u, S32 g, U32 first, std::span<U32> ids) override {
      return noted(SimulatedChip::bcm_field_group_flash(u, g, first, ids));
   }
   std::vector<bool> lockKept;
};

// A manager call is one step of its caller's: no framework work runs inside it.
TEST_F(TcamManagerTest, ManagerCallsKeepTheActivityLockThroughTheirSdkCalls) {
   LockNotingChip chip({4, 64, 1, 1});
   const Shim::ScopedBackend installed(chip);
   const TcamGroupConfig config{145, 12, 4, 1, 1, /*priority=*/3};
   groups = new TesselTcamGroupManager(64);
   nat = groups->unboundedEntryManagerIs(config);
   const U32 cold = getEntry();
   nat->installEntry(unit, cold);
   nat->reinstallEntry(unit, cold);
   groups = new TesselTcamGroupManager(64, TesselTcamGroupManager::Start::warm, {unit});
   nat = groups->unboundedEntryManagerIs(config);
   nat->freeEntry(unit, getEntry());
   getEntry();
   groups->doFlashDownload();
   EXPECT_EQ(chip.lockKept.size(), 11u) << "create, priority, install, reinstall; multi-get, "
                                           "create, priority, destroy, create, priority, flash";
   EXPECT_THAT(chip.lockKept, testing::Each(true));
}

}  // namespace
}  // namespace TcamTest

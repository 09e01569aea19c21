#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "tests/support/agent_harness.h"
#include "tests/support/programmer_fixture.h"

namespace {

using testing::ElementsAre;

// The mounter, created by type name by the agent's loader, with module 1 in the shared state.
class MounterTest : public NatTest::ProgrammerFixture {
protected:
   MounterTest() { scsd->moduleToUnitIs(TesselCentral::ModId(1), 1); }

   std::unique_ptr<NatTest::Agent> agent =
       std::make_unique<NatTest::Agent>(sharedMemory, scsd, TesselTcamGroupManager::Start::cold, 8);
};

TEST_F(MounterTest, LoadingRegistersTheFiveTypesInOrderAndDoInitMountsClosesAndBuildsTheRoot) {
   std::vector<Kiv::String> types;
   for (const Kiv::String& name : Kiv::typeNodeNames()) {
      if (name.starts_with("Tessel::")) types.push_back(name);
   }
   EXPECT_THAT(types, ElementsAre("Tessel::EntryIdTableEntry", "Tessel::NatSlaveProgrammerSm",
                                  "Tessel::NatMounter", "Tessel::NatSlaveRootSm",
                                  "Tessel::NatCliCallback"));
   EXPECT_FALSE(agent->mounter->rootSm());

   agent->mounter->doInit();
   const auto& requests = agent->entityManager->mountRequests();
   ASSERT_GE(requests.size(), 5u);
   std::vector<std::pair<Kiv::String, KivShoal::KivShoalType>> mounts;
   for (size_t i = 0; i < 5; ++i)
      mounts.emplace_back(requests[i].path, requests[i].mountInfo.type());
   using T = KivShoal::KivShoalType;
   EXPECT_THAT(mounts, ElementsAre(std::pair{Kiv::String("tesselnat/ingQuillShoalConfigDir"), T(1)},
                                   std::pair{Kiv::String("tesselnat/hwKeyUidTable"), T(2)},
                                   std::pair{Kiv::String("tesselnat/uidHwKeyTable"), T(2)},
                                   std::pair{Kiv::String("tesselnat/hwShadow"), T(2)},
                                   std::pair{Kiv::String("tesselnat/ingModSetDir"), T(2)}));
   EXPECT_EQ(agent->entityManager->getMountGroup()->mountedPaths().size(), 5u);
   EXPECT_TRUE(agent->entityManager->getMountGroup()->closed());
   EXPECT_FALSE(agent->entityManager->getMountGroup()->ready()) << "ready comes from the loop";
   const Kiv::Ptr<Tessel::NatSlaveRootSm> root = agent->mounter->rootSm();
   ASSERT_TRUE(root);
   EXPECT_TRUE(root->hasNotificationActive());
   EXPECT_EQ(root->tcamGroupManager(), agent->groups);
   const Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = agent->programmer(1);
   ASSERT_TRUE(programmer);

   agent->mounter->doInit();
   EXPECT_EQ(agent->mounter->rootSm(), root) << "the same four objects keep the root";
   EXPECT_EQ(agent->programmer(1), programmer);
}

TEST_F(MounterTest, TeardownSwitchesTheRootOffBeforeReleasingIt) {
   EXPECT_FALSE(agent->mounter->rootSmDel());
   agent->mounter->doInit();
   const Kiv::Ptr<Tessel::NatSlaveRootSm> root = agent->mounter->rootSm();
   const Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = agent->programmer(1);
   agent.reset();
   EXPECT_FALSE(root->hasNotificationActive());
   EXPECT_FALSE(programmer->hasNotificationActive());
   scsd->moduleToUnitIs(TesselCentral::ModId(2), 2);
   EXPECT_FALSE(root->natSlaveProgrammerSm(TesselCentral::ModId(2)));
}

}  // namespace

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <any>
#include <memory>
#include <tuple>

#include "TesselNat/event_log_messages.h"
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
   const std::vector<std::string> traces = programmerTraces();
   EXPECT_THAT(std::vector(traces.begin(), traces.begin() + std::min<size_t>(traces.size(), 3)),
               ElementsAre("NatMounter::doInit", "NatSlaveRootSm::handleModule",
                           "NatSlaveRootSm::handleModule1"));
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

   // Any one of the four objects changed makes a new root; the old one goes as it is.
   const Kiv::Ptr<const TesselCommonSmData> otherScsd = new TesselCommonSmData("other");
   const Kiv::Ptr<TesselTcamGroupManager> otherGroups = new TesselTcamGroupManager(64);
   const Kiv::Ptr<const KivSharedMem::MountGroup> otherGroup =
       new KivSharedMem::MountGroup("other", nullptr);
   const Kiv::Ptr<KivShoal::EntityManager> otherAgent =
       new KivShoal::EntityManager("other", sharedMemory);
   for (int changed = 0; changed < 4; ++changed) {
      const Kiv::Ptr<Tessel::NatSlaveRootSm> before = agent->mounter->rootSm();
      const Kiv::Arguments args = {changed == 0 ? otherScsd : before->scsd(),
                                   changed == 1 ? otherGroups : before->tcamGroupManager(),
                                   changed == 2 ? otherGroup : before->mountGroup(),
                                   changed == 3 ? otherAgent : before->shoalEntityManager()};
      const auto after = std::any_cast<Kiv::Ptr<Tessel::NatSlaveRootSm>>(
          Tessel::NatMounter::typeNode()->invoke(*agent->mounter, "rootSmIs", args));
      EXPECT_NE(after, before) << changed;
      EXPECT_EQ(agent->mounter->rootSm(), after);
      EXPECT_TRUE(before->hasNotificationActive()) << "released, not switched off";
   }
}

TEST_F(MounterTest, TeardownSwitchesTheRootOffBeforeReleasingIt) {
   EXPECT_FALSE(std::any_cast<Kiv::Ptr<Tessel::NatSlaveRootSm>>(
       Tessel::NatMounter::typeNode()->invoke(*agent->mounter, "rootSmDel", {})));
   agent->mounter->doInit();
   const Kiv::Ptr<Tessel::NatSlaveRootSm> root = agent->mounter->rootSm();
   const Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = agent->programmer(1);
   agent.reset();
   EXPECT_FALSE(root->hasNotificationActive());
   EXPECT_FALSE(programmer->hasNotificationActive());
   scsd->moduleToUnitIs(TesselCentral::ModId(2), 2);
   EXPECT_FALSE(root->natSlaveProgrammerSm(TesselCentral::ModId(2)));
}

TEST(EventLogMessagesTest, TheLibraryDefinesEachWithItsSeverityTextsAndParameters) {
   const struct {
      const Kiv::LogHandle& handle;
      const char* name;
      int severity;
      const char* format;
      const char* explanation;
      const char* action;
   } messages[] = {
       {TesselNat::tesselConfigChange(), "TESSEL_CONFIG_CHANGE", 6,
        "Configuration change requires the Tessel agent %s to restart",
        "Configuration change requires the switch ASIC to be reconfigured, requiring the Tessel "
        "agent to restart.",
        Kiv::NoActionRequired},
       {TesselNat::tesselUnexpectedRestart(), "TESSEL_UNEXPECTED_RESTART", 3,
        "Unexpected restart of Tessel agent %s occurred",
        "Unexpected restart of the Tessel agent occurred.", Kiv::CallSupportIfPersists},
       {TesselNat::tesselNatTcamResourceFull(), "TESSEL_NAT_TCAM_RESOURCE_FULL", 3,
        "Hardware resources are insufficient to add NAT rule with key <%s>",
        "The switch is unable to program TCAM entries.",
        "Reconfigure the system to clear up hardware resources before configuring this NAT rule"},
   };
   for (const auto& m : messages) {
      const Kiv::LogHandle& h = m.handle;
      EXPECT_EQ(std::tuple(h.name(), static_cast<int>(h.severity()), h.format(), h.explanation(),
                           h.recommendedAction(), h.minInterval(), h.maxInterval(), h.flag()),
                std::tuple(m.name, m.severity, m.format, m.explanation, m.action, 0.0, 1.0, 0));
   }
}

}  // namespace

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

#include "tests/support/agent_harness.h"
#include "tests/support/programmer_fixture.h"

namespace {

using Start = TesselTcamGroupManager::Start;

// The whole agent in one process, driven as the agent process drives it: shared objects
// published, the plug-in loaded, the mounter created by type name and initialised, and the
// framework's loop run. Rules come from the control plane through shared memory.
class AgentTest : public NatTest::ProgrammerFixture {
protected:
   static constexpr U32 natEntries = 6;  // exactly what the three rules need

   struct Rule {
      U32 uid;
      Ember::NatHwKey key;
      NatTest::DataFields data;
      Chip::Packet packet;
   };

   AgentTest() { scsd->moduleToUnitIs(TesselCentral::ModId(module), module); }

   void startAgent(Start start) {
      agent = std::make_unique<NatTest::Agent>(sharedMemory, scsd, start, natEntries,
                                               std::vector<U16>{module});
      agent->mounter->doInit();
      Kiv::eventLoop().doRunUntilIdle();
      ASSERT_TRUE(agent->entityManager->getMountGroup()->ready());
   }

   void expectEveryRuleAnsweredAndClassified(const char* when) {
      const auto statusDir = agent->programmer(module)->quillShoalStatusDir();
      for (const Rule& rule : rules) {
         SCOPED_TRACE(std::string(when) + ", uid " + std::to_string(rule.uid));
         bool found = false;
         const Quill::QuillShoalStatus status =
             statusDir->safeLookup(Quill::QuillShoalKey(rule.uid), found);
         EXPECT_TRUE(found);
         EXPECT_EQ(status.result(), 1u);
         EXPECT_EQ(status.reqVersion(), controlPlane.reqVersion(TesselNat::Uid(rule.uid)));
         expectClassifiedAsBefore(rule);
      }
   }

   void expectClassifiedAsBefore(const Rule& rule) {
      const auto match = chip_.classify(module, rule.packet);
      ASSERT_TRUE(match) << "uid " << rule.uid;
      const auto* opaque = match->actions.find(Shim::sdk_.bcmFieldActionAssignOpaqueObject1());
      ASSERT_TRUE(opaque);
      EXPECT_EQ(opaque->param0, rule.uid);
      const auto held = match->actions.items();
      const auto before = actionsBefore[rule.uid].items();
      if (!before.empty()) {
         EXPECT_TRUE(std::equal(held.begin(), held.end(), before.begin(), before.end()));
      }
      actionsBefore[rule.uid] = match->actions;
   }

   const std::vector<Rule> rules{
       {7,
        NatTest::staticDestNapt(),
        {.nextHop = 5, .vlans = {10}},
        {.l3Ingress = 10,
         .dstIp = Netbase::IpAddr("203.0.113.5").value(),
         .dstPort = 80,
         .ipProtocol = 6}},
       {8,
        NatTest::dynamicSrc(17),
        {},
        {.srcIp = Netbase::IpAddr("10.0.0.1").value(),
         .dstIp = Netbase::IpAddr("8.8.8.8").value(),
         .srcPort = 1000,
         .dstPort = 53,
         .ipProtocol = 17}},
       {9,
        NatTest::twiceSrcNapt(),
        {.nextHop = 0},
        {.srcIp = Netbase::IpAddr("10.0.0.1").value(),
         .dstIp = Netbase::IpAddr("198.51.100.7").value(),
         .srcPort = 1000,
         .dstPort = 53,
         .ipProtocol = 6}},
   };
   std::unique_ptr<NatTest::Agent> agent;
   std::map<U32, Chip::ActionList> actionsBefore;
};

TEST_F(AgentTest, RulesReachTheChipThroughTheWholeAgentAndSurviveAWarmRestart) {
   startAgent(Start::cold);
   for (const Rule& rule : rules) {
      controlPlane.ruleIs({TesselNat::Uid(rule.uid),
                           rule.key,
                           NatTest::natData(rule.data),
                           {TesselCentral::ModId(module)},
                           {}});
   }
   Kiv::eventLoop().doRunUntilIdle();
   expectEveryRuleAnsweredAndClassified("after publishing");
   EXPECT_EQ(agent->programmer(module)->entryIdTables(), rules.size());

   // The control plane saw every answer: its rules are clean. The agent restarts warm.
   for (const Rule& rule : rules) controlPlane.ruleCleanIs(TesselNat::Uid(rule.uid));
   agent.reset();
   scsd->hitlessInitIs(true);
   scsd->flashDownloadWaitIs(3, false);
   for (const Rule& rule : rules) expectClassifiedAsBefore(rule);

   startAgent(Start::warm);  // the commit pass answers every request again, staged
   ASSERT_TRUE(agent->programmer(module)->hitlessInitPhase());
   expectEveryRuleAnsweredAndClassified("after the commit pass");

   agent->groups->doFlashDownload();
   scsd->flashDownloadWaitIs(3, true);
   expectEveryRuleAnsweredAndClassified("after the flash download");
   EXPECT_TRUE(agent->programmer(module)->initialized());
   EXPECT_FALSE(agent->programmer(module)->hitlessInitPhase());
   EXPECT_EQ(agent->nat->entriesHeld(module), agent->programmer(module)->entryIds());
   EXPECT_EQ(agent->programmer(module)->entryIds().size(), natEntries);
   EXPECT_EQ(chip_.entryCount(module), natEntries) << "nothing of the previous run is left";
}

}  // namespace

#include "simulator/switch/simulated_switch.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/framework/kiv/activity_lock.h"
#include "simulator/switch/rule_conversion.h"
#include "simulator/switch/rule_generator.h"

namespace {

using Simulator::Rule;

// The whole switch: generated rules of every type on two modules, through restarts. What a
// packet hits is checked on the chip.
class SimulatedSwitchTest : public ::testing::Test {
protected:
   SimulatedSwitchTest() {
      Simulator::Generate generate;
      generate.seed = 7;
      generate.modules = {1, 2};
      for (uint16_t uid = 1; uid <= 120; ++uid) generate.uids.push_back(uid);
      rules = Simulator::generatedRules(generate);
   }
   ~SimulatedSwitchTest() override {
      simulated.reset();
      Kiv::eventLoop().workDelAll();
   }

   void publishAll() {
      for (const Rule& rule : rules) simulated->controlPlane().ruleIs(Simulator::natRuleOf(rule));
      simulated->doSettle();
   }

   // Every rule's packet, on every VLAN it is on, hits an entry carrying its uid on both
   // modules.
   void expectEveryRuleHit(const char* when) {
      SCOPED_TRACE(when);
      for (const Rule& rule : rules) {
         const std::vector<uint16_t> vlans =
             rule.vlans.empty() ? std::vector<uint16_t>{7} : rule.vlans;
         for (uint16_t module : rule.modules) {
            for (uint16_t vlan : vlans) {
               const auto match = simulated->chip().classify(
                   module, Simulator::chipPacketOf(Simulator::packetFor(rule, module, vlan)));
               ASSERT_TRUE(match) << "uid " << rule.uid << " vlan " << vlan;
               const auto* uid =
                   match->actions.find(Shim::sdk_.bcmFieldActionAssignOpaqueObject1());
               ASSERT_TRUE(uid);
               EXPECT_EQ(uid->param0, rule.uid);
            }
         }
      }
   }

   // The entry manager holds exactly the ids the programmers recorded, and the chip no more.
   void expectNothingLeaked() {
      for (U16 module : simulated->modules()) {
         std::set<U32> recorded;
         simulated->programmer(module)->entryIdTableForEach(
             [&](const Tessel::EntryIdTableEntry& entry) {
                for (const auto& [vlan, id] : entry.defaultEntryIdMap()) recorded.insert(id);
                for (const auto& [vlan, id] : entry.fragEntryIdMap()) recorded.insert(id);
             });
         EXPECT_EQ(simulated->natEntryManager()->entriesHeld(module), recorded);
         EXPECT_EQ(simulated->chip().entryCount(module), recorded.size());
         EXPECT_TRUE(simulated->programmer(module)->doAudit().empty());
      }
   }

   Kiv::ActivityGuard framework{Kiv::activityLock()};
   std::vector<Rule> rules;
   std::unique_ptr<Simulator::SimulatedSwitch> simulated =
       std::make_unique<Simulator::SimulatedSwitch>(
           Simulator::SimulatedSwitch::Config{.natEntries = 2048, .modules = {1, 2}});
};

TEST_F(SimulatedSwitchTest, RulesKeepTheirEntriesThroughAWarmRestartAndTheFlashDownload) {
   publishAll();
   EXPECT_EQ(simulated->controlPlane().outstandingRequests(), 0u);
   expectEveryRuleHit("programmed");

   simulated->doRestart(true);
   EXPECT_TRUE(simulated->programmer(1)->hitlessInitPhase());
   EXPECT_EQ(simulated->controlPlane().outstandingRequests(), 0u);
   expectEveryRuleHit("after the hitless commit pass");

   simulated->doFlashDownload();
   EXPECT_FALSE(simulated->programmer(1)->hitlessInitPhase());
   expectEveryRuleHit("after the flash download");
   expectNothingLeaked();
}

TEST_F(SimulatedSwitchTest, ColdRestartResetsTheChipAndTheControlPlanePublishesAgain) {
   publishAll();
   simulated->doRestart(false);
   EXPECT_FALSE(simulated->programmer(1)->hitlessInitPhase());
   EXPECT_EQ(simulated->controlPlane().outstandingRequests(), 0u);
   expectEveryRuleHit("after a cold restart");
   expectNothingLeaked();
}

TEST_F(SimulatedSwitchTest, RemovedModuleIsNoLongerWaitedFor) {
   publishAll();
   simulated->moduleDel(2);
   EXPECT_FALSE(simulated->programmer(2));
   simulated->controlPlane().ruleRemovalIs(TesselNat::Uid(rules.front().uid));
   simulated->doSettle();
   EXPECT_FALSE(simulated->controlPlane().ruleHas(TesselNat::Uid(rules.front().uid)));
   EXPECT_EQ(simulated->controlPlane().outstandingRequests(), 0u);
}

}  // namespace

#include "simulator/switch/traffic_source.h"

#include <gtest/gtest.h>

#include "platform/framework/kiv/activity_lock.h"
#include "simulator/switch/rule_conversion.h"
#include "simulator/switch/simulated_switch.h"

namespace {

using Counts = Simulator::TrafficSource::Counts;

// A flow to a settled destination rule, sent between the halves of restarts.
class TrafficSourceTest : public ::testing::Test {
protected:
   TrafficSourceTest() {
      rule.uid = 7;
      rule.type = Simulator::RuleType::staticDestNat;
      rule.dst = Simulator::Endpoint{0xCB000007, 80};
      rule.dstNew = Simulator::Endpoint{0x0A000007, 8080};
      rule.protocol = 6;
      rule.vlans = {10};
      rule.modules = {1};
      rule.keys.resize(1);
      publish();
   }
   void publish() {
      simulated.controlPlane().ruleIs(Simulator::natRuleOf(rule));
      simulated.doSettle();
   }

   Kiv::ActivityGuard framework{Kiv::activityLock()};
   Simulator::SimulatedSwitch simulated{Simulator::SimulatedSwitch::Config{}};
   Simulator::Rule rule;
};

TEST_F(TrafficSourceTest, AWarmRestartLosesNothingAColdOneLosesAndAChangedRuleMisroutes) {
   Simulator::TrafficSource traffic(
       simulated.chip(), {{1, Simulator::chipPacketOf(Simulator::packetFor(rule, 1, 10))}}, 0);
   simulated.doAgentStop(true);
   traffic.doSend(10);
   simulated.doAgentStart(true);
   traffic.doSend(10);
   simulated.doFlashDownload();
   traffic.doSend(10);
   EXPECT_EQ(traffic.doBaseline(), (std::vector<Counts>{{30, 0, 0}}));

   simulated.doAgentStop(false);
   traffic.doSend(4);
   simulated.doAgentStart(false);
   traffic.doSend(6);
   EXPECT_EQ(traffic.doBaseline(), (std::vector<Counts>{{10, 4, 0}}));

   rule.nextHop = Simulator::nextHopDrop;
   publish();
   traffic.doSend(3);
   EXPECT_EQ(traffic.doBaseline(), (std::vector<Counts>{{3, 0, 3}}));
   traffic.doSend(2);
   EXPECT_EQ(traffic.doBaseline(), (std::vector<Counts>{{2, 0, 0}})) << "dropped is the new normal";
}

}  // namespace

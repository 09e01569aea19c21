#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/framework/kiv/activity_lock.h"
#include "simulator/scenario/scenario_parser.h"
#include "simulator/switch/rule_conversion.h"
#include "simulator/switch/simulated_switch.h"
#include "simulator/switch/traffic_source.h"

namespace {

using Simulator::AgentControl;
using Simulator::Packet;
using Simulator::Rule;
using Simulator::SimulatedSwitch;

// The agent as the program runs it, a process of its own on the switch's segment, killed and
// held where a test chooses.
class AgentProcessTest : public ::testing::Test {
protected:
   static SimulatedSwitch::Config config() {
      SimulatedSwitch::Config config;
      config.agentProgram = TESSEL_NAT_PROGRAM;
      config.natEntries = 64;
      return config;
   }

   // The rule a scenario's add step describes.
   static Rule ruleOf(const std::string& add) {
      const Simulator::Scenario scenario =
          Simulator::parseScenario(R"({"steps": [{"add": )" + add + "}]}");
      return std::get<Simulator::AddRule>(scenario.steps.at(0).action).rule;
   }

   static void publish(SimulatedSwitch& simulated, const Rule& rule) {
      ASSERT_FALSE(simulated.controlPlane().ruleIs(Simulator::natRuleOf(rule)));
   }

   // Publishes `rule` with the agent held inside SDK call `calls` of its commit.
   static void publishHeld(SimulatedSwitch& simulated, const Rule& rule, U32 calls) {
      simulated.pauseIs(calls);
      publish(simulated, rule);
      simulated.doSettle();
      ASSERT_TRUE(simulated.agentPaused());
   }

   // What `packet` meets on the chip: nothing, or the uid and forwarding of the entry it hits.
   static std::optional<Chip::PacketOutcome> meet(SimulatedSwitch& simulated, const Packet& packet) {
      const Chip::Packet chipPacket = Simulator::chipPacketOf(packet);
      const auto match = simulated.chip().classify(packet.module, chipPacket);
      if (!match) return std::nullopt;
      return simulated.chip().outcome(packet.module, chipPacket, match->actions);
   }

   const Kiv::ActivityGuard framework_{Kiv::activityLock()};
};

const std::string settledRule =
    R"({"uid": 1, "type": "staticDestNat", "dst": "203.0.113.5:80", "dstNew": "10.0.0.5:8080",
        "protocol": 6, "vlans": [10]})";
// Two keys (TCP and UDP) on two VLANs.
const std::string twoKeyRule =
    R"({"uid": 2, "type": "staticDestNat", "dst": "203.0.113.6:80", "dstNew": "10.0.0.6:8080",
        "protocol": 6, "vlans": [10, 20], "keys": [{}, {"protocol": 17}]})";

TEST_F(AgentProcessTest, AKillAtAnySdkCallOfACommitLeavesTheNextAgentInStepWithTheChip) {
   const Rule settled = ruleOf(settledRule);
   const Rule rule = ruleOf(twoKeyRule);
   U32 calls = 1;
   for (;; ++calls) {
      SimulatedSwitch simulated(config());
      publish(simulated, settled);
      simulated.doSettle();
      const Packet settledPacket = Simulator::packetFor(settled, 1, 10);
      Simulator::TrafficSource traffic(simulated.chip(),
                                       {{1, Simulator::chipPacketOf(settledPacket)}}, 20000);
      traffic.doBaseline();

      simulated.crashIs(AgentControl::CrashPoint::sdkCall, calls, true);
      publish(simulated, rule);
      simulated.doSettle();
      if (simulated.crashes().empty()) break;
      simulated.doFlashDownload();

      SCOPED_TRACE("killed after SDK call " + std::to_string(calls));
      EXPECT_EQ(simulated.controlPlane().outstandingRequests(), 0u);
      EXPECT_EQ(simulated.controlPlane().answer(TesselNat::Uid(2)),
                ControlPlane::Answer::programmed);
      EXPECT_TRUE(simulated.audit(1).empty());
      const SimulatedSwitch::EntryAccount account = simulated.entryAccount(1);
      EXPECT_EQ(account.recorded, account.held);
      EXPECT_EQ(account.recorded, account.onChip);
      EXPECT_EQ(account.onChip.size(), 2u * 5);
      const Simulator::TrafficSource::Counts counts = traffic.doBaseline().at(0);
      EXPECT_EQ(counts.lost, 0u);
      EXPECT_EQ(counts.misrouted, 0u);
      for (const uint16_t vlan : {10, 20}) {
         for (const uint8_t proto : {6, 17}) {
            Packet packet = Simulator::packetFor(rule, 1, vlan);
            packet.proto = proto;
            const auto outcome = meet(simulated, packet);
            ASSERT_TRUE(outcome);
            EXPECT_EQ(outcome->uid, 2u);
         }
      }
   }
   // The commit's every call was a kill, the last one past its end.
   EXPECT_GT(calls, 20u);
}

// Traffic checks meet the switch without an agent, however soon a dead or stopped one's
// successor starts.
TEST_F(AgentProcessTest, WorkWhileTheAgentIsDownRunsAfterItsDeathOrStopAndBeforeItsSuccessor) {
   SimulatedSwitch simulated(config());
   std::vector<bool> upWhenRun;
   simulated.whileAgentDownIs([&] { upWhenRun.push_back(simulated.agentUp()); });
   simulated.crashIs(AgentControl::CrashPoint::sdkCall, 1, true);
   publish(simulated, ruleOf(settledRule));
   simulated.doSettle();
   EXPECT_EQ(upWhenRun, std::vector<bool>{false});
   EXPECT_TRUE(simulated.agentUp());
   EXPECT_EQ(simulated.controlPlane().outstandingRequests(), 0u);
   simulated.doRestart(true);
   EXPECT_EQ(upWhenRun, (std::vector<bool>{false, false}));
}

// Traffic flows while the agent works: the look that finds the agent held in the middle of a
// commit sees the rule on its first VLAN and not yet on its second.
TEST_F(AgentProcessTest, WorkWhileTheAgentWorksSeesTheChipAsTheAgentLeftItSoFar) {
   SimulatedSwitch simulated(config());
   const Rule rule = ruleOf(twoKeyRule);
   std::vector<std::pair<bool, bool>> hitOnVlans;
   simulated.whileAgentWorksIs([&] {
      hitOnVlans.emplace_back(meet(simulated, Simulator::packetFor(rule, 1, 10)).has_value(),
                              meet(simulated, Simulator::packetFor(rule, 1, 20)).has_value());
   });
   ASSERT_NO_FATAL_FAILURE(publishHeld(simulated, rule, 25));
   ASSERT_FALSE(hitOnVlans.empty());
   EXPECT_EQ(hitOnVlans.back(), (std::pair{true, false}));
   simulated.pauseEnd();
   simulated.doSettle();
   EXPECT_EQ(hitOnVlans.back(), (std::pair{true, true}));
}

TEST_F(AgentProcessTest, ARuleChangedDuringAnSdkCallOfItsCommitEndsAtItsLastVersion) {
   SimulatedSwitch simulated(config());
   publish(simulated, ruleOf(settledRule));
   simulated.doSettle();
   Rule changed = ruleOf(settledRule);
   changed.nextHop = 7;
   ASSERT_NO_FATAL_FAILURE(publishHeld(simulated, changed, 3));
   Rule last = changed;
   last.vlans = {20};
   publish(simulated, last);
   simulated.pauseEnd();
   simulated.doSettle();

   EXPECT_EQ(simulated.controlPlane().answer(TesselNat::Uid(1)), ControlPlane::Answer::programmed);
   EXPECT_TRUE(simulated.audit(1).empty());
   EXPECT_FALSE(meet(simulated, Simulator::packetFor(last, 1, 10)));
   const auto outcome = meet(simulated, Simulator::packetFor(last, 1, 20));
   ASSERT_TRUE(outcome);
   EXPECT_EQ(outcome->uid, 1u);
   EXPECT_EQ(outcome->forwarding, Chip::Forwarding::l3Switch);
}

// The driver reads the answers and then asks whether the agent is quiet; descheduled in
// between, it may find an agent that answered and got quiet meanwhile. Quiet since, the agent
// is not quiet as of the answers read.
TEST_F(AgentProcessTest, AnAgentQuietOnlySinceTheAnswersWereReadIsNotQuietAsOfThatReading) {
   SimulatedSwitch simulated(config());
   ASSERT_NO_FATAL_FAILURE(publishHeld(simulated, ruleOf(settledRule), 3));
   const U64 readAt = simulated.changes();
   simulated.controlPlane().doReadAnswers();
   ASSERT_EQ(simulated.controlPlane().outstandingRequests(), 1u);

   simulated.pauseEnd();
   for (int look = 0; look < 10000 && !simulated.agentQuietAt(simulated.changes()); ++look) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
   }
   ASSERT_TRUE(simulated.agentQuietAt(simulated.changes()));
   EXPECT_FALSE(simulated.agentQuietAt(readAt));
   simulated.doSettle();
   EXPECT_EQ(simulated.controlPlane().answer(TesselNat::Uid(1)), ControlPlane::Answer::programmed);
}

TEST_F(AgentProcessTest, ARuleThatLosesKeysDuringItsCommitEndsWithTheKeysItKeeps) {
   SimulatedSwitch simulated(config());
   const Rule twoKeys = ruleOf(twoKeyRule);
   publish(simulated, twoKeys);
   simulated.doSettle();
   Rule changed = twoKeys;
   changed.nextHop = 7;
   ASSERT_NO_FATAL_FAILURE(publishHeld(simulated, changed, 3));
   Rule oneKey = changed;
   oneKey.keys.resize(1);
   publish(simulated, oneKey);
   simulated.pauseEnd();
   simulated.doSettle();

   EXPECT_TRUE(simulated.crashes().empty());
   EXPECT_EQ(simulated.controlPlane().answer(TesselNat::Uid(2)), ControlPlane::Answer::programmed);
   EXPECT_TRUE(simulated.audit(1).empty());
   const SimulatedSwitch::EntryAccount account = simulated.entryAccount(1);
   EXPECT_EQ(account.recorded, account.onChip);
   // One key on two VLANs, a fragment entry beside each default one.
   EXPECT_EQ(account.onChip.size(), 4u);
   Packet udp = Simulator::packetFor(oneKey, 1, 10);
   udp.proto = 17;
   EXPECT_FALSE(meet(simulated, udp));
}

TEST_F(AgentProcessTest, AModuleInsertedWhileTheAgentCommitsAnswersWhatWasAskedOfItMeanwhile) {
   SimulatedSwitch simulated(config());
   Rule rule = ruleOf(twoKeyRule);
   rule.modules = {1, 2};
   publish(simulated, rule);
   simulated.doSettle();
   Rule changed = rule;
   changed.nextHop = 7;
   ASSERT_NO_FATAL_FAILURE(publishHeld(simulated, changed, 3));
   simulated.moduleIs(2);
   simulated.pauseEnd();
   simulated.doSettle();

   EXPECT_EQ(simulated.controlPlane().outstandingRequests(), 0u);
   EXPECT_TRUE(simulated.audit(2).empty());
   const auto outcome = meet(simulated, Simulator::packetFor(changed, 2, 10));
   ASSERT_TRUE(outcome);
   EXPECT_EQ(outcome->uid, 2u);
}

// A line card pulled while the agent commits a rule on it: the unit goes first, the agent's
// next SDK call there fails, which is fatal, and the supervisor starts it again without the
// module, also after an earlier crash the scenario left it down for.
TEST_F(AgentProcessTest, AnAgentThatDiesAtAPulledUnitComesBackWithoutTheModule) {
   SimulatedSwitch::Config twoModules = config();
   twoModules.modules = {1, 2};
   SimulatedSwitch simulated(twoModules);
   simulated.crashIs(AgentControl::CrashPoint::none, 0, false);
   simulated.doAgentStart(true);
   Rule rule = ruleOf(settledRule);
   rule.modules = {2};
   ASSERT_NO_FATAL_FAILURE(publishHeld(simulated, rule, 2));
   simulated.chip().unitGoneIs(2, true);
   simulated.moduleDel(2);
   simulated.pauseEnd();
   simulated.doSettle();

   ASSERT_EQ(simulated.crashes().size(), 2u);
   EXPECT_FALSE(simulated.crashes().back().planned);
   EXPECT_TRUE(simulated.agentUp());
   EXPECT_EQ(simulated.controlPlane().outstandingRequests(), 0u);
   EXPECT_TRUE(simulated.audit(1).empty());
}

}  // namespace

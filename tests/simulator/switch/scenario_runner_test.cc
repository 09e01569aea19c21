#include "simulator/switch/scenario_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/framework/kiv/activity_lock.h"
#include "simulator/scenario/default_scenario.h"
#include "simulator/scenario/scenario_parser.h"

namespace {

using ::testing::HasSubstr;

// Scenarios run as the program runs them, judged by what they report.
class ScenarioRunnerTest : public ::testing::Test {
protected:
   ~ScenarioRunnerTest() override { Kiv::eventLoop().workDelAll(); }

   // The report of `text`, whose run must end with status 0; `beforeRun` sees the switch
   // built and the agent started.
   std::string run(const std::string& text,
                   Simulator::ScenarioRunner::Options options = {.agentProgram = TESSEL_NAT_PROGRAM},
                   const std::function<void(Simulator::SimulatedSwitch&)>& beforeRun = {}) {
      const Simulator::Scenario scenario = Simulator::parseScenario(text);
      std::ostringstream out;
      Simulator::ScenarioRunner runner(scenario, out, std::move(options));
      if (beforeRun) beforeRun(runner.simulatedSwitch());
      EXPECT_EQ(runner.doRun(), 0) << out.str();
      return out.str();
   }

   // The report of `text` and the status its run ends with.
   std::pair<std::string, int> runToStatus(const std::string& text) {
      const Simulator::Scenario scenario = Simulator::parseScenario(text);
      std::ostringstream out;
      Simulator::ScenarioRunner runner(scenario, out, {.agentProgram = TESSEL_NAT_PROGRAM});
      const int status = runner.doRun();
      return {out.str(), status};
   }

   Kiv::ActivityGuard framework{Kiv::activityLock()};
};

TEST_F(ScenarioRunnerTest, DefaultScenarioShowsTranslationAFullTcamAndAWarmRestart) {
   const std::string report = run(Simulator::defaultScenarioText);
   for (const char* line : {
            "packet module 1: entry 2 uid 2 profile 17 (staticDestNat) unchanged -> "
            "198.51.100.7:40000 > 10.0.0.5:8080\n",
            // The non-first fragment goes to the fragment entry's profile.
            "packet module 1: entry 3 uid 2 profile 16 (staticDestNat) unchanged -> ",
            "packet module 1: no match\n",
            // Module 1 has the flow of uid 5 too and runs out; a delete makes room for a retry.
            "status module 1 uid 7 result 2 (TCAM full: in hardware on VLAN 30, not on VLAN 40; "
            "needs 2 more entries, 1 free)\nstatus module 2 uid 7 result 1 (done)\n",
            "steps[14] retry uid 7\nstatus module 1 uid 7 result 1 (done)\n",
            // The previous run's entry before the flash download, the new run's after.
            "steps[20] packet 198.51.100.7:40001 > 203.0.113.5:80 proto 6 vlan 20\n"
            "packet module 2: entry 10 uid 2",
            "steps[22] packet 198.51.100.7:40001 > 203.0.113.5:80 proto 6 vlan 20\n"
            "packet module 2: entry 20 uid 2",
            "verify module 2: ok\n",
            "summary: 5 rules; module 1 13 entries used, 3 free; module 2 13 entries used, 3 "
            "free; requests answered 1: 38, 2: 1, unanswered: 0, refused: 0, answers lost: 0\n",
        }) {
      EXPECT_THAT(report, HasSubstr(line));
   }
   // Both flows through the crash in the middle of a delete, the warm restart after it and
   // the flash download, without a loss.
   EXPECT_THAT(report, testing::ContainsRegex(
                           "steps\\[18\\] delete uid 4\n(status [^\n]*\n)*"
                           "the agent was killed at its planned SDK call \\(killed by signal 9\\); "
                           "a new agent started warm\n(status [^\n]*\n)*"
                           "(module [12]: 13 entries staged, active at the flash download; [^\n]*\n){2}"
                           "traffic flow 1 \\(module 1 198.51.100.7:40000 > 203.0.113.5:80\\): "
                           "sent [1-9][0-9]*, lost 0, misrouted 0\n"
                           "traffic flow 2 [^\n]*: sent [1-9][0-9]*, lost 0, misrouted 0\n"
                           "steps\\[19\\] restart warm\n(status [^\n]*\n)*"
                           "(module [12]: [^\n]* staged[^\n]*\n){2}"
                           "traffic flow 1 [^\n]*: sent [1-9][0-9]*, lost 0, misrouted 0\n"
                           "traffic flow 2 [^\n]*: sent [1-9][0-9]*, lost 0, misrouted 0\n"
                           "steps\\[20\\]"));
}

// A line card that leaves and comes back in its slot starts empty and gets every rule that
// names it again.
TEST_F(ScenarioRunnerTest, ModuleThatComesBackGetsEveryRuleThatNamesIt) {
   const std::string report = run(R"({"modules": [1, 2], "steps": [
       {"add": {"uid": 9, "type": "staticSrcNat", "src": "10.0.0.1", "srcNew": "192.0.2.1"}},
       {"removeModule": 2}, {"addModule": 2}, {"verify": 2}]})");
   EXPECT_THAT(report, HasSubstr("steps[2] add module 2\nstatus module 2 uid 9 result 1 (done)\n"));
}

// Each step's line names every field that decides its outcome: steps that differ only in a
// next hop, a fragment or TCP flags print different lines; and what a packet meets names the
// next hop it goes to.
TEST_F(ScenarioRunnerTest, StepLinesNameEveryFieldThatDecides) {
   const std::string report = run(R"({"modules": [1, 2], "steps": [
       {"add": {"uid": 1, "type": "staticSrcNat", "src": "10.0.0.1", "srcNew": "192.0.2.1",
                "filter": "198.51.0.0/16", "nextHop": 7, "aclId": 3, "modules": [2]}},
       {"update": {"uid": 1, "type": "staticSrcNat", "src": "10.0.0.1", "srcNew": "192.0.2.1",
                   "filter": "198.51.0.0/16", "nextHop": "drop", "aclId": 3, "modules": [2]}},
       {"update": {"uid": 1, "type": "staticSrcNat", "src": "10.0.0.1", "srcNew": "192.0.2.1",
                   "filter": "198.51.0.0/16", "aclId": 3, "modules": [2]}},
       {"add": {"uid": 2, "type": "staticDestNat", "dst": "203.0.113.5:80",
                "dstNew": "10.0.0.5:8080", "vlans": [10], "protocol": 6,
                "keys": [{"filter": "10.1.0.0/16", "protocol": 17}]}},
       {"packet": {"module": 1, "vlan": 10, "proto": 6, "src": "1.2.3.4:5",
                   "dst": "203.0.113.5:80", "fragment": "first", "tcpFlags": ["ack", "syn"]}},
       {"packet": {"module": 1, "vlan": 10, "proto": 6, "src": "1.2.3.4:5",
                   "dst": "203.0.113.5:80", "fragment": "later"}},
       {"add": {"uid": 3, "type": "staticDestNat", "dst": "198.51.100.1:80",
                "dstNew": "10.0.0.9:8080", "vlans": [10], "protocol": 6, "nextHop": 7}},
       {"packet": {"module": 1, "vlan": 10, "proto": 6, "src": "1.2.3.4:5",
                   "dst": "198.51.100.1:80"}}]})");
   for (const char* line : {
            "steps[0] add uid 1 staticSrcNat src 10.0.0.1 -> 192.0.2.1 filter 198.51.0.0/16 "
            "nextHop 7 aclId 3 modules 2\n",
            "steps[1] update uid 1 staticSrcNat src 10.0.0.1 -> 192.0.2.1 filter 198.51.0.0/16 "
            "nextHop drop aclId 3 modules 2\n",
            "steps[2] update uid 1 staticSrcNat src 10.0.0.1 -> 192.0.2.1 filter 198.51.0.0/16 "
            "aclId 3 modules 2\n",
            "steps[3] add uid 2 staticDestNat dst 203.0.113.5:80 -> 10.0.0.5:8080 vlans 10 "
            "protocol 6 modules 1,2 key 0 protocol 17 key 0 filter 10.1.0.0/16\n",
            "steps[4] packet 1.2.3.4:5 > 203.0.113.5:80 proto 6 vlan 10 fragment first "
            "tcpFlags syn,ack\n",
            "steps[5] packet 1.2.3.4:5 > 203.0.113.5:80 proto 6 vlan 10 fragment later\n",
            // The packet's line says which next hop the egress object stands for.
            "(staticDestNat) l3-switch 100007 (next hop 7) -> 1.2.3.4:5 > 10.0.0.9:8080\n",
        }) {
      EXPECT_THAT(report, HasSubstr(line));
   }
}

// A module answers every live request in a directory of 16384 answers: the control plane
// refuses a rule beyond that before anything is programmed, a session's flows too, and a
// deleted rule's answer leaves, so that a new uid finds room. A session whose flows were
// refused goes without a request.
TEST_F(ScenarioRunnerTest, LiveRulesBeyondAStatusDirectoryAreRefusedAndDeletesMakeRoom) {
   const std::string report = run(R"({"chip": {"natEntries": 65536},
       "pools": [{"name": "office", "inside": "10.1.0.0/16", "outside": "192.0.2.8/30",
                  "idleSteps": 1}],
       "steps": [
       {"generate": {"rules": 16390, "seed": 1}},
       {"packet": {"module": 1, "vlan": 10, "proto": 17, "src": "10.1.0.5:40000",
                   "dst": "8.8.8.8:53"}},
       {"delete": 1},
       {"add": {"uid": 30000, "type": "staticSrcNat", "src": "10.9.9.9", "srcNew": "192.0.2.1"}},
       {"retry": 16390}]})");
   EXPECT_THAT(report, HasSubstr(" failed, 6 refused\n"));
   EXPECT_THAT(report, HasSubstr("status module 1 uid 30000 result 1 (done)\n"));
   EXPECT_THAT(report, HasSubstr("uid 16390 was refused: nothing to do\n"));
   EXPECT_THAT(report, HasSubstr("unanswered: 0, refused: 7, answers lost: 0\n"));
   EXPECT_THAT(report, HasSubstr("uid 65535 refused: "));
   EXPECT_THAT(report, HasSubstr("flow uid 65535: idle for 1 step, withdrawn\n"
                                 "steps[3] add uid 30000"));
}

TEST_F(ScenarioRunnerTest, JsonLinesCarryTheSameEvents) {
   std::istringstream lines(run(R"({"steps": [
       {"add": {"uid": 9, "type": "staticSrcNat", "src": "10.0.0.1", "srcNew": "192.0.2.1"}},
       {"packet": {"module": 1, "vlan": 5, "proto": 6, "src": "10.0.0.1:1000",
                   "dst": "8.8.8.8:53"}}]})",
                                {.format = Simulator::EventWriter::Format::json}));
   std::vector<std::string> events;
   for (std::string line; std::getline(lines, line);) events.push_back(line);
   ASSERT_EQ(events.size(), 5u);
   EXPECT_EQ(events[1], R"({"event":"status","module":1,"uid":9,"result":1,"meaning":"done"})");
   EXPECT_EQ(events[3], R"({"event":"packet","module":1,"entry":1,"uid":9,"profile":20,)"
                        R"("kind":"staticSrcNat","forwarding":"unchanged","src":"192.0.2.1:1000",)"
                        R"("dst":"8.8.8.8:53"})");
}

// A packet is translated as the chip is programmed, not as the rule reads: with L4 port
// translation switched off in the chip after the agent switched it on, the rule's address is
// still translated but the packet keeps its port.
TEST_F(ScenarioRunnerTest, PacketKeepsItsPortWhenTheChipDoesNotTranslatePorts) {
   const auto portTranslationOff = [](Simulator::SimulatedSwitch& simulated) {
      constexpr U32 l4XlateEnable = 1u << 20;
      Chip::SimulatedChip& chip = simulated.chip();
      const U32 control = chip.portTranslationControl(1);
      ASSERT_NE(control & l4XlateEnable, 0u);
      chip.portTranslationControlIs(1, control & ~l4XlateEnable);
   };
   const std::string report = run(R"({"steps": [
       {"add": {"uid": 2, "type": "staticDestNat", "dst": "203.0.113.5:80",
                "dstNew": "10.0.0.5:8080", "protocol": 6, "vlans": [10]}},
       {"packet": {"module": 1, "vlan": 10, "proto": 6, "src": "198.51.100.7:40000",
                   "dst": "203.0.113.5:80"}}]})",
                                  {}, portTranslationOff);
   EXPECT_THAT(report, HasSubstr("profile 17 (staticDestNat) unchanged -> "
                                 "198.51.100.7:40000 > 10.0.0.5:80\n"));
}

TEST_F(ScenarioRunnerTest, AgentCommandOverTheSocketAnswersWithTheModulesDump) {
   const std::string path = "/tmp/tessel-nat-test-" + std::to_string(getpid()) + ".sock";
   const Simulator::Scenario scenario = Simulator::parseScenario(R"({"steps": [
       {"add": {"uid": 9, "type": "staticSrcNat", "src": "10.0.0.1", "srcNew": "192.0.2.1"}},
       {"show": 1}]})");
   std::ostringstream out;
   Simulator::ScenarioRunner runner(
       scenario, out, {.agentProgram = TESSEL_NAT_PROGRAM, .commandSocket = path});
   runner.doRun();

   sockaddr_un address{AF_UNIX, {}};
   std::strcpy(address.sun_path, path.c_str());
   const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
   EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
   EXPECT_GT(dprintf(fd, "TesselNat 1 show nat\n"), 0);
   std::string dump;
   char buffer[4096];
   for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) dump.append(buffer, n);
   close(fd);
   EXPECT_THAT(dump, HasSubstr("\"uid\": 9"));
   EXPECT_THAT(out.str(), HasSubstr(dump));
}

}  // namespace

namespace {

// Module 1 holds uid 1 and then room for 7 of uid 2's 8 VLANs; module 2 holds all 8.
constexpr const char* tooBigForModuleOne = R"({"chip": {"natEntries": 16}, "modules": [1, 2],
   "steps": [
       {"add": {"uid": 1, "type": "staticSrcNat", "src": "10.0.0.1", "srcNew": "192.0.2.1",
                "modules": [1]}},
       {"add": {"uid": 2, "type": "staticDestNat", "dst": "203.0.113.5:80",
                "dstNew": "10.0.0.5:8080", "protocol": 6,
                "vlans": [10, 20, 30, 40, 50, 60, 70, 80]}},
       {"packet": {"module": 2, "vlan": 20, "proto": 6, "src": "1.2.3.4:5555",
                   "dst": "203.0.113.5:80"}},
       {"packet": {"module": 2, "vlan": 20, "proto": 6, "src": "1.2.3.4:5556",
                   "dst": "203.0.113.5:80"}},
       )";

}  // namespace

// A rule answered "TCAM full" says on which VLANs it still carries traffic and what the rest
// need; every entry is read from the chip with its hits.
TEST_F(ScenarioRunnerTest, ListingSaysWhatEachModuleHoldsOfEachRule) {
   const std::string report =
       run(std::string(tooBigForModuleOne) + R"({"rules": true}, {"tcam": true}]})");
   EXPECT_THAT(report,
               HasSubstr("steps[4] rules\n"
                         "rule uid 1 staticSrcNat src 10.0.0.1 -> 192.0.2.1 modules 1\n"
                         "  module 1: programmed; 1 entry: 1\n"
                         "rule uid 2 staticDestNat dst 203.0.113.5:80 -> 10.0.0.5:8080 vlans "
                         "10,20,30,40,50,60,70,80 protocol 6 modules 1,2\n"
                         "  module 1: partial: in hardware on VLANs 10,20,30,40,50,60,70, not on "
                         "VLAN 80 (TCAM full: needs 2 more entries, 1 free); 14 entries: 2, 3, 4, "
                         "5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15\n"
                         "  module 2: programmed; 16 entries: 1, 2, 3 (2 hits), 4, 5,"));
   EXPECT_THAT(report, HasSubstr("steps[5] tcam\n"
                                 "tcam module 1: 15 of 16 entries used, 1 free: staticSrcNat 1 (1 "
                                 "rule), staticDestNat 14 (1 rule); headroom: 1 more rule of 1 "
                                 "entry or 0 of 2\n"
                                 "tcam module 2: 16 of 16 entries used, 0 free: staticDestNat 16 "
                                 "(1 rule); headroom: 0 more rules of 1 entry or 0 of 2\n"));
}

// A warm start's entries wait for the flash download beside the previous run's, which carry
// the traffic until then.
TEST_F(ScenarioRunnerTest, ListingShowsWhatAWarmStartStaged) {
   const std::string report = run(R"({"chip": {"natEntries": 16}, "steps": [
       {"add": {"uid": 1, "type": "staticSrcNat", "src": "10.0.0.1", "srcNew": "192.0.2.1"}},
       {"add": {"uid": 2, "type": "staticSrcNat", "src": "10.0.0.2", "srcNew": "192.0.2.2"}},
       {"restart": "warm"}, {"delete": 2}, {"rules": true}, {"tcam": true},
       {"flashDownload": true}, {"rules": true}, {"show": {"module": 1, "format": "table"}}]})");
   EXPECT_THAT(report, HasSubstr("module 1: 2 entries staged, active at the flash download; "
                                 "until then the previous run's 2 carry the traffic\n"
                                 "steps[3] delete uid 2\n"));
   EXPECT_THAT(report, HasSubstr("steps[4] rules\nrule uid 1 staticSrcNat src 10.0.0.1 -> "
                                 "192.0.2.1 modules 1\n  module 1: staged, active at the flash "
                                 "download; 2 entries: 1, 17 staged\n"
                                 "steps[5] tcam\ntcam module 1: 1 of 16 entries used (staged for "
                                 "the flash download), 15 free: staticSrcNat 1 (1 rule); "
                                 "headroom: 15 more rules of 1 entry or 7 of 2\n"));
   EXPECT_THAT(report, HasSubstr("steps[7] rules\nrule uid 1 staticSrcNat src 10.0.0.1 -> "
                                 "192.0.2.1 modules 1\n  module 1: programmed; 1 entry: 17\n"
                                 "steps[8] show module 1 as a table\nuid  key "));
}

// A diff compares the rules with what the chip holds, per module and VLAN, and ends the run
// with a status of its own. After a warm restart every module rebuilds every rule, so module 2
// holds a rule that names module 1 only.
TEST_F(ScenarioRunnerTest, DiffNamesWhatTheChipLacksAndWhatNoRuleIntends) {
   const auto [report, status] = runToStatus(
       std::string(tooBigForModuleOne) +
       R"({"diff": true}, {"verify": 1}, {"delete": 2}, {"restart": "warm"},
          {"flashDownload": true}, {"diff": true}]})");
   // The audit's lines about a rule the TCAM could not hold say so and fail nothing.
   EXPECT_EQ(status, 5);
   EXPECT_THAT(report, HasSubstr("steps[5] verify module 1\nverify module 1: "
                                 "entry.defaultEntryIds() == shadowData.vlanIds(): key type: "
                                 "staticDestNat old dip: 203.0.113.5:80 new dip: 10.0.0.5:8080 "
                                 "proto: 0 faId: 0 aclId: 0, vlan 0, entry 0, expected 8, read 7 "
                                 "(uid 2 did not fit: TCAM full)\n"));
   EXPECT_THAT(report, HasSubstr("steps[4] diff\n"
                                 "diff module 1: uid 2 VLAN 80 intended, not in hardware (TCAM "
                                 "full)\n"
                                 "diff module 1: 2 rules on 9 VLANs intended, 1 not in hardware, 0 "
                                 "entries not intended\n"
                                 "diff module 2: as intended, 1 rule on 8 VLANs\n"));
   EXPECT_THAT(report, HasSubstr("steps[9] diff\n"
                                 "diff module 1: as intended, 1 rule on 1 VLAN\n"
                                 "diff module 2: uid 1 any VLAN in hardware, not intended (1 "
                                 "entry)\n"
                                 "diff module 2: 0 rules on 0 VLANs intended, 0 not in hardware, 1 "
                                 "entry not intended\n"));
}

// A packet that hits nothing is told the entries it came nearest to and the first field each
// one wanted otherwise.
TEST_F(ScenarioRunnerTest, PacketThatHitsNothingNamesTheNearestEntries) {
   const std::string report = run(R"({"chip": {"natEntries": 16}, "steps": [
       {"add": {"uid": 1, "type": "staticSrcNat", "src": "10.0.0.1", "srcNew": "192.0.2.1",
                "filter": "198.51.100.0/24"}},
       {"add": {"uid": 5, "type": "dynamicSrcNat", "src": "10.0.0.3:1000",
                "srcNew": "192.0.2.3:3000", "dst": "8.8.8.8:53", "dstNew": "8.8.8.8:53",
                "dynProto": 6}},
       {"add": {"uid": 7, "type": "staticDestNat", "dst": "203.0.113.5:80",
                "dstNew": "10.0.0.5:8080", "protocol": 6, "vlans": [10]}},
       {"packet": {"module": 1, "vlan": 10, "proto": 6, "src": "10.0.0.1:5555",
                   "dst": "8.8.8.8:53"}},
       {"packet": {"module": 1, "vlan": 30, "proto": 6, "src": "1.2.3.4:5555",
                   "dst": "203.0.113.5:81"}},
       {"packet": {"module": 1, "vlan": 10, "proto": 6, "src": "10.0.0.3:1000",
                   "dst": "8.8.8.8:53", "tcpFlags": ["syn", "ack"]}},
       {"packet": {"module": 1, "vlan": 10, "proto": 17, "src": "10.0.0.3:1000",
                   "dst": "8.8.8.8:53"}}]})");
   EXPECT_THAT(report, HasSubstr("packet module 1: no match\n  entry 1 uid 1 misses 1 field, "
                                 "first the destination address: the packet has 8.8.8.8, the "
                                 "entry takes 198.51.100.0/24\n"));
   // Fields are told in the order an engineer checks them.
   EXPECT_THAT(report, HasSubstr("packet module 1: no match\n"
                                 "  entry 1 uid 1 misses 2 fields, first the source address: the "
                                 "packet has 1.2.3.4, the entry takes 10.0.0.1\n"
                                 "  entry 4 uid 7 misses 2 fields, first the VLAN: the packet has "
                                 "30, the entry takes 10\n"
                                 "  entry 5 uid 7 misses 2 fields, first the VLAN: "));
   EXPECT_THAT(report, HasSubstr("packet module 1: no match\n  entry 2 uid 5 misses 1 field, "
                                 "first the TCP flags: the packet has syn,ack, the entry takes "
                                 "no fin,no syn,no rst\n"));
   EXPECT_THAT(report, HasSubstr("packet module 1: no match\n  entry 2 uid 5 misses 1 field, "
                                 "first the protocol: the packet has 17, the entry takes 6\n"));
}

// The first packet of an inside flow hits nothing and goes to the CPU, where the pool gives it
// a translation and the control plane installs the flow and its return flow; the next packets
// hit them in hardware, a TCP control packet still goes to the CPU, and a session with no hit
// for its pool's idle steps goes, its uids and translation free for the next one.
TEST_F(ScenarioRunnerTest, PoolOpensASessionInHardwareAndWithdrawsItWhenIdle) {
   const std::string report = run(R"({"chip": {"natEntries": 64},
       "pools": [{"name": "office", "inside": "10.1.0.0/16", "outside": "192.0.2.8/30",
                  "ports": [20000, 20999], "vlans": [100], "idleSteps": 4, "sessions": 1}],
       "steps": [
       {"packet": {"module": 1, "vlan": 10, "proto": 6, "src": "10.1.0.5:40000",
                   "dst": "8.8.8.8:443"}},
       {"packet": {"module": 1, "vlan": 10, "proto": 6, "src": "10.1.0.5:40000",
                   "dst": "8.8.8.8:443", "tcpFlags": ["ack"]}},
       {"packet": {"module": 1, "vlan": 100, "proto": 6, "src": "8.8.8.8:443",
                   "dst": "192.0.2.8:20000"}},
       {"packet": {"module": 1, "vlan": 10, "proto": 6, "src": "10.1.0.5:40000",
                   "dst": "8.8.8.8:443", "tcpFlags": ["fin"]}},
       {"diff": true},
       {"sessions": true},
       {"packet": {"module": 1, "vlan": 10, "proto": 17, "src": "10.1.0.6:5000",
                   "dst": "8.8.8.8:53"}},
       {"verify": 1},
       {"packet": {"module": 1, "vlan": 10, "proto": 17, "src": "10.1.0.6:5000",
                   "dst": "8.8.8.8:53"}}]})");
   const std::string session =
       "session 1 of pool office: 10.1.0.5:40000 > 8.8.8.8:443 proto 6 as 192.0.2.8:20000, flow "
       "uid 65535, return flow uid 65534 on VLAN 100";
   EXPECT_THAT(report, HasSubstr("to the CPU: opens " + session +
                                 "\nstatus module 1 uid 65535 result 1 (done)\n"
                                 "status module 1 uid 65534 result 1 (done)\nsteps[1]"));
   EXPECT_THAT(report, HasSubstr("packet module 1: entry 1 uid 65535 profile 21 (dynamicSrcNat) "
                                 "unchanged -> 192.0.2.8:20000 > 8.8.8.8:443\n"));
   EXPECT_THAT(report, HasSubstr("packet module 1: entry 3 uid 65534 profile 17 (dynamicDestNat) "
                                 "unchanged -> 8.8.8.8:443 > 10.1.0.5:40000\n"));
   EXPECT_THAT(report, HasSubstr("to the CPU: " + session +
                                 " (a TCP control packet, which the flows leave to the CPU)\n"));
   // The return flow's entries match on any VLAN, and are its VLAN's.
   EXPECT_THAT(report, HasSubstr("steps[4] diff\ndiff module 1: as intended, 2 rules on 2 VLANs\n"));
   EXPECT_THAT(report, HasSubstr("steps[5] sessions\n" + session + "; 2 hits, idle 2 of 4 steps\n"));
   EXPECT_THAT(report, HasSubstr("to the CPU: pool office has no session free (1 open, as many "
                                 "as it takes)\n" +
                                 session + ": idle for 4 steps, withdrawn\n"));
   EXPECT_THAT(report, HasSubstr("to the CPU: opens session 2 of pool office: 10.1.0.6:5000 > "
                                 "8.8.8.8:53 proto 17 as 192.0.2.8:20000, flow uid 65535, return "
                                 "flow uid 65534 on VLAN 100\n"));
}

// A scenario can expect the hits the chip counted for a rule on a module, and clear them; a
// count other than expected fails the run.
TEST_F(ScenarioRunnerTest, ExpectedHitsAreTheChipsAndClearedOnDemand) {
   const auto [report, status] = runToStatus(
       std::string(tooBigForModuleOne) +
       R"({"expectHits": {"module": 2, "uid": 2, "hits": 2}}, {"clearHits": true},
          {"expectHits": {"module": 2, "uid": 2, "hits": 1}}]})");
   EXPECT_EQ(status, 1);
   EXPECT_THAT(report, HasSubstr("steps[4] expect module 2 uid 2 hits 2\n"
                                 "expect module 2 uid 2 hits 2: ok\n"
                                 "steps[5] clear hits\n"
                                 "steps[6] expect module 2 uid 2 hits 1\n"
                                 "expect module 2 uid 2 hits 1: got 0\n"));
}

#include "simulator/switch/scenario_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

#include "platform/framework/kiv/activity_lock.h"
#include "simulator/scenario/default_scenario.h"
#include "simulator/scenario/scenario_parser.h"

namespace {

using ::testing::HasSubstr;

// Scenarios run as the program runs them, judged by what they report.
class ScenarioRunnerTest : public ::testing::Test {
protected:
   ~ScenarioRunnerTest() override { Kiv::eventLoop().workDelAll(); }

   // Runs `text` and returns its report; `status` gets the exit status.
   std::string run(const std::string& text, int* status = nullptr) {
      const Simulator::Scenario scenario = Simulator::parseScenario(text);
      std::ostringstream out;
      Simulator::ScenarioRunner runner(scenario, out, {});
      const int result = runner.doRun();
      if (status) *status = result;
      return out.str();
   }

   Kiv::ActivityGuard framework{Kiv::activityLock()};
};

TEST_F(ScenarioRunnerTest, DefaultScenarioTranslatesItsPacketsAndVerifiesClean) {
   int status = -1;
   const std::string report = run(Simulator::defaultScenarioText, &status);
   EXPECT_EQ(status, 0) << report;
   EXPECT_THAT(report, HasSubstr("203.0.113.5:80: hits entry 2, uid 2 (dst 203.0.113.5:80 -> "
                                 "10.0.0.5:8080), profile 17\n"));
   EXPECT_THAT(report, HasSubstr("later fragment: hits entry 3, uid 2 (dst 203.0.113.5:80 -> "
                                 "10.0.0.5:8080), profile 16\n"));
   EXPECT_THAT(report, HasSubstr("vlan 30 proto 6 198.51.100.7:40000 -> 203.0.113.5:80: no entry"));
   EXPECT_THAT(report, HasSubstr("delete uid 5: removed\n"));
   EXPECT_THAT(report, HasSubstr("generate 200 rules (seed 1) on modules 1 2: 200 programmed, 0 "
                                 "failed"));
   EXPECT_THAT(report, HasSubstr("verify module 2: ok, 206 key(s)"));
}

TEST_F(ScenarioRunnerTest, FullTcamFailsARuleUntilARetryAfterADelete) {
   // 16 entries: a destination NAPT rule on 4 VLANs takes 8.
   const std::string rule = R"("type": "staticDestNat", "dst": "203.0.113.5:80",
       "dstNew": "10.0.0.5:8080", "vlans": [10, 20, 30, 40])";
   const std::string report = run(R"({"chip": {"natEntries": 16}, "steps": [
       {"add": {"uid": 1, )" + rule +
                                  R"(}},
       {"add": {"uid": 2, "type": "staticSrcNat", "src": "10.0.0.1", "srcNew": "192.0.2.1"}},
       {"add": {"uid": 3, "type": "staticDestNat", "dst": "203.0.113.6:80",
                "dstNew": "10.0.0.6:8080", "vlans": [10, 20, 30, 40]}},
       {"verify": 1},
       {"delete": 2}, {"retry": 3}, {"verify": 1},
       {"packet": {"module": 1, "vlan": 40, "proto": 6, "src": "1.1.1.1:1",
                   "dst": "203.0.113.6:80"}}]})");
   EXPECT_THAT(report, HasSubstr("vlans 10,20,30,40: failed: a module could not program it"));
   // The failed rule kept the VLANs it got before the TCAM ran out.
   EXPECT_THAT(report, HasSubstr("steps[3] verify module 1: 2 disagreement(s)\n  "
                                 "entry.defaultEntryIds() == shadowData.vlanIds()"));
   EXPECT_THAT(report, HasSubstr("steps[5] retry uid 3: programmed\n"));
   EXPECT_THAT(report, HasSubstr("steps[6] verify module 1: ok, 2 key(s)"));
   EXPECT_THAT(report, HasSubstr("uid 3 (dst 203.0.113.6:80 -> 10.0.0.6:8080)"));
}

TEST_F(ScenarioRunnerTest, AgentCommandOverTheSocketAnswersWithTheModulesDump) {
   const std::string path = "/tmp/tessel-nat-test-" + std::to_string(getpid()) + ".sock";
   const Simulator::Scenario scenario = Simulator::parseScenario(R"({"steps": [
       {"add": {"uid": 9, "type": "staticSrcNat", "src": "10.0.0.1", "srcNew": "192.0.2.1"}},
       {"show": 1}]})");
   std::ostringstream out;
   Simulator::ScenarioRunner runner(scenario, out, {.socketPath = path});
   runner.doRun();

   const auto ask = [&](const std::string& request) {
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strcpy(address.sun_path, path.c_str());
      const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
      EXPECT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
      runner.simulatedSwitch().commandServer()->doPoll(std::chrono::milliseconds(100));
      runner.simulatedSwitch().doSettle();
      std::string answer;
      char buffer[4096];
      for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, n);
      close(fd);
      return answer;
   };
   const std::string dump = ask("TesselNat 1 show nat\n");
   EXPECT_THAT(dump, HasSubstr("\"uid\": 9"));
   EXPECT_THAT(out.str(), HasSubstr(dump));
   EXPECT_EQ(ask("TesselNat 1\n"), dump);
   EXPECT_EQ(ask("TesselNat 5 show\n"), "");
   EXPECT_EQ(ask("TesselNat 65 show\n"),
             "error: ModId::value < ModId::min or > ModId::null not allowed\n");
   EXPECT_EQ(ask("Other 1 show\n"), "error: unknown command type 'Other'\n");
}

}  // namespace

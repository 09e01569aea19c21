#include "simulator/switch/agent_supervisor.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace {

// Agents that cannot attach their segment say so and exit with status 1, each a fork of the
// one launcher the first start made.
TEST(AgentSupervisorTest, AnAgentThatExitsIsSeenAtOnceWithItsStatusAndAnotherStarts) {
   const std::string socket = "/tmp/tessel-nat-supervisor-test." + std::to_string(::getpid());
   Simulator::AgentSupervisor supervisor(TESSEL_NAT_PROGRAM, "no-such-segment", socket, {},
                                         "/dev/null");
   pid_t previous = 0;
   for (const bool warm : {false, true}) {
      supervisor.doStart(warm);
      ASSERT_TRUE(supervisor.up());
      EXPECT_NE(supervisor.pid(), previous);
      previous = supervisor.pid();
      pollfd report{supervisor.reportDescriptor(), POLLIN, 0};
      ASSERT_EQ(::poll(&report, 1, 10000), 1) << "no word of the agent's end";
      EXPECT_TRUE(supervisor.doReapDead());
      EXPECT_FALSE(supervisor.up());
      EXPECT_EQ(supervisor.lastEnd(), "exit status 1");
      EXPECT_FALSE(supervisor.doReapDead());
   }
}

// A launcher that cannot run ends before its first report; the start says how it ended.
TEST(AgentSupervisorTest, AStartWhoseLauncherCannotRunSaysHowTheLauncherEnded) {
   const std::string socket = "/tmp/tessel-nat-supervisor-test." + std::to_string(::getpid());
   Simulator::AgentSupervisor supervisor("/nonexistent/tessel-nat", "no-such-segment", socket, {},
                                         "/dev/null");
   try {
      supervisor.doStart(false);
      FAIL() << "an agent started without a launcher";
   } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "the agent launcher ended: exit status 127");
   }
   EXPECT_FALSE(supervisor.up());
}

}  // namespace

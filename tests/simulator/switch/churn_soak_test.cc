#include "simulator/switch/churn_soak.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

// A short soak of the whole agent under churn, restarts, corruption and a full TCAM; a long
// one is `tessel-nat soak --seed S --steps N`, which also replays a failure from its seed.
// Hosted in the test's process the agent also runs framework work inside its SDK calls; as a
// process of its own it is killed and held inside them.
class ChurnSoakTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ChurnSoakTest, EveryCheckHoldsAfterEveryStep) {
   const std::string& agentProgram = GetParam();
   for (const uint64_t seed : {1u, 2u, 3u}) {
      std::ostringstream log;
      const Simulator::SoakResult result = Simulator::runChurnSoak(seed, 150, &log, agentProgram);
      EXPECT_EQ(result.failure, "") << "seed " << seed << "; replay with tessel-nat soak"
                                    << (agentProgram.empty() ? " --hosted" : "") << " --seed "
                                    << seed << " --steps " << result.stepsRun + 1 << "\n"
                                    << log.str();
   }
}

INSTANTIATE_TEST_SUITE_P(Hosted, ChurnSoakTest, ::testing::Values(""));
INSTANTIATE_TEST_SUITE_P(AgentProcess, ChurnSoakTest, ::testing::Values(TESSEL_NAT_PROGRAM));

}  // namespace

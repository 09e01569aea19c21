#include "simulator/switch/churn_soak.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// A short soak of the whole agent under churn, restarts, corruption and a full TCAM; a long
// one is `tessel-nat soak --seed S --steps N`, which also replays a failure from its seed.
TEST(ChurnSoakTest, EveryCheckHoldsAfterEveryStep) {
   for (const uint64_t seed : {1u, 2u, 3u}) {
      std::ostringstream log;
      const Simulator::SoakResult result = Simulator::runChurnSoak(seed, 150, &log);
      EXPECT_EQ(result.failure, "") << "seed " << seed << "; replay with tessel-nat soak --seed "
                                    << seed << " --steps " << result.stepsRun + 1 << "\n"
                                    << log.str();
   }
}

}  // namespace

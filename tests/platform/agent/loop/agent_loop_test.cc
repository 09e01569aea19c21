#include "platform/agent/loop/agent_loop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include "platform/tables/shoal/doorbell.h"

// A ring nobody answered left a writer's changes unseen until something else woke the agent;
// a loop that closed the doorbell when it went left the next one deaf.
TEST(AgentLoopTest, AnswersTheDoorbellAndLeavesItOpenWhenItGoes) {
   pollfd bell{Shoal::Doorbell::self().descriptor(), POLLIN, 0};
   {
      Agent::AgentLoop loop;
      Shoal::Doorbell::doRing(::getpid());
      ASSERT_EQ(::poll(&bell, 1, 5000), 1);
      loop.doPoll();
      EXPECT_EQ(::poll(&bell, 1, 0), 0) << "the ring is still there";
   }
   EXPECT_NE(::fcntl(bell.fd, F_GETFD), -1) << "the doorbell was closed";
}

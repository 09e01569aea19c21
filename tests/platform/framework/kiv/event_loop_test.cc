#include "platform/framework/kiv/event_loop.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/framework/kiv/activity_lock.h"
#include "platform/framework/kiv/assert.h"

namespace {

TEST(EventLoopTest, RunsOneItemAStepInOrderWithTheLockHeldAndWorkQueuedMeanwhileLater) {
   Kiv::EventLoop loop;
   std::vector<int> ran;
   loop.workIs([&] {
      ran.push_back(1);
      EXPECT_TRUE(Kiv::activityLock().isHeldByThisThread());
      loop.workIs([&] { ran.push_back(3); });
   });
   loop.workIs([&] { ran.push_back(2); });

   const Kiv::AssertionHandler previous = Kiv::assertionHandlerIs(&Kiv::throwingAssertionHandler);
   EXPECT_THROW(loop.doStep(), Kiv::AssertionFailure) << "only the framework thread, locked";
   Kiv::assertionHandlerIs(previous);

   const Kiv::ActivityGuard framework(Kiv::activityLock());
   EXPECT_TRUE(loop.doStep());
   EXPECT_EQ(ran, std::vector<int>{1});
   EXPECT_EQ(loop.pendingWork(), 2u);
   EXPECT_EQ(loop.doRunUntilIdle(), 2u);
   EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
   EXPECT_FALSE(loop.doStep());
}

}  // namespace

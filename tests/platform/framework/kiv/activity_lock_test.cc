#include "platform/framework/kiv/activity_lock.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

namespace {

// Whether another thread could take the lock right now.
bool freeForOthers() {
   return std::async(std::launch::async,
                     [] {
                        if (!Kiv::activityLock().try_lock()) return false;
                        Kiv::activityLock().unlock();
                        return true;
                     })
       .get();
}

class ActivityLockTest : public ::testing::Test {
protected:
   Kiv::ActivityGuard guard{Kiv::activityLock()};
};

TEST_F(ActivityLockTest, FreeExactlyInsideAnUnlockAnchor) {
   EXPECT_FALSE(freeForOthers());
   {
      Kiv::UnlockAnchor anchor;
      EXPECT_FALSE(Kiv::activityLock().isLocked());
      EXPECT_TRUE(freeForOthers());
   }
   EXPECT_TRUE(Kiv::activityLock().isHeldByThisThread());
   EXPECT_FALSE(freeForOthers());
}

TEST_F(ActivityLockTest, TakenBackWhenTheScopeIsLeftByAnException) {
   EXPECT_THROW(
       {
          Kiv::UnlockAnchor anchor;
          throw std::runtime_error("sdk threw");
       },
       std::runtime_error);
   EXPECT_TRUE(Kiv::activityLock().isHeldByThisThread());
}

}  // namespace

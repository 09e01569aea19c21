#include "platform/tables/kiv_shared_mem/mount_group.h"

#include <gtest/gtest.h>

#include "platform/framework/kiv/activity_lock.h"
#include "platform/framework/kiv/event_loop.h"
#include "platform/framework/kiv/reactor.h"

namespace {

struct Root : Kiv::PtrInterface {
   int readyNotifications = 0;
};

class ReadyReactor : public Kiv::Reactor<Root, KivSharedMem::MountGroup> {
public:
   using Reactor::Reactor;
   void onReady() override { ++owner()->readyNotifications; }
};

// The closer returns, and builds what watches the group, before the group turns ready.
TEST(MountGroupTest, TurnsReadyThroughTheLoopAfterDoCloseHasReturned) {
   const Kiv::ActivityGuard framework(Kiv::activityLock());
   Kiv::Ptr<KivSharedMem::MountGroup> group = new KivSharedMem::MountGroup("group", nullptr);
   group->doClose();
   group->doClose();
   EXPECT_FALSE(group->ready());
   Root root;
   Kiv::Ptr<ReadyReactor> reactor(new ReadyReactor(&root, group));
   reactor->isActiveIs(true);
   Kiv::eventLoop().doRunUntilIdle();
   EXPECT_TRUE(group->ready());
   EXPECT_EQ(root.readyNotifications, 1);
   group->doMountsComplete();
   EXPECT_EQ(root.readyNotifications, 1) << "ready turns true once";
}

}  // namespace

#include "platform/kiv_shared_mem/mount_group.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/kiv/errors.h"
#include "platform/kiv/reactor.h"
#include "platform/kiv_shoal/entity_manager.h"
#include "platform/kiv_shoal/table_factory.h"

namespace {

using ::testing::ElementsAre;

constexpr const char* kTypeName = "test::GroupTable";

struct Watcher : Kiv::PtrInterface {};

class ReadyReactor : public Kiv::Reactor<Watcher, KivSharedMem::MountGroup> {
public:
   using Reactor::Reactor;
   void onReady() override { ++readyCalls; }
   int readyCalls = 0;
};

class MountGroupTest : public ::testing::Test {
protected:
   MountGroupTest()
       : manager(new KivShoal::EntityManager("manager")),
         group(manager->getMountGroup()),
         reactor(new ReadyReactor(&watcher, group)) {
      KivShoal::tableFactoryIs(kTypeName, [](const Kiv::Name& name) {
         return Kiv::Ptr<Kiv::Entity>(new Kiv::Entity(name));
      });
      reactor->isActiveIs(true);
      group->doMount("/b", kTypeName, info);
      group->doMount("/a", kTypeName, info);
   }
   ~MountGroupTest() override { KivShoal::tableFactoryDel(kTypeName); }

   KivShoal::MountInfo info{KivShoal::KivShoalType::reader};
   Watcher watcher;
   Kiv::Ptr<KivShoal::EntityManager> manager;
   Kiv::Ptr<KivSharedMem::MountGroup> group;
   Kiv::Ptr<ReadyReactor> reactor;
};

TEST_F(MountGroupTest, ReadyOnceAtCloseAndClosedToFurtherMounts) {
   EXPECT_EQ(manager->getMountGroup(), group);
   EXPECT_THAT(group->mountedPaths(), ElementsAre("/b", "/a"));
   EXPECT_TRUE(manager->getEntity("/a"));
   EXPECT_FALSE(group->ready());
   group->doClose();
   group->doClose();
   EXPECT_TRUE(group->ready());
   EXPECT_EQ(reactor->readyCalls, 1);
   EXPECT_THROW(group->doMount("/c", kTypeName, info), Kiv::Exception);
   EXPECT_FALSE(manager->mountRequested("/c"));
}

TEST_F(MountGroupTest, DeferredCompletionDelaysReady) {
   group->mountsCompleteDeferredIs(true);
   group->doClose();
   EXPECT_FALSE(group->ready());
   EXPECT_EQ(reactor->readyCalls, 0);
   group->doMountsComplete();
   group->doMountsComplete();
   EXPECT_TRUE(group->ready());
   EXPECT_EQ(reactor->readyCalls, 1);
}

TEST_F(MountGroupTest, GroupOutlivingItsManagerRefusesMounts) {
   manager = nullptr;
   EXPECT_THROW(group->doMount("/c", kTypeName, info), Kiv::Exception);
}

}  // namespace

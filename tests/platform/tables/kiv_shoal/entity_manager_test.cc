#include "platform/tables/kiv_shoal/entity_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/framework/kiv/errors.h"
#include "platform/framework/kiv/reactor.h"
#include "platform/tables/kiv_shared_mem/mount_group.h"
#include "platform/tables/kiv_shoal/table_factory.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kTypeName = "test::Plain";

class EntityManagerTest : public ::testing::Test {
protected:
   EntityManagerTest() : manager(new KivShoal::EntityManager("manager")) {
      KivShoal::tableFactoryIs(kTypeName, [this](const Kiv::Name& name) {
         ++created;
         return Kiv::Ptr<Kiv::Entity>(new Kiv::Entity(name));
      });
   }
   ~EntityManagerTest() override { KivShoal::tableFactoryDel(kTypeName); }

   KivShoal::MountInfo info{KivShoal::KivShoalType::reader};
   Kiv::Ptr<KivShoal::EntityManager> manager;
   int created = 0;
};

TEST_F(EntityManagerTest, MountingAPathTwiceYieldsTheSameTable) {
   EXPECT_EQ(manager->getEntity("/nat/config"), nullptr);
   Kiv::Ptr<Kiv::Entity> first = manager->doMount("/nat/config", kTypeName, info);
   ASSERT_TRUE(first);
   EXPECT_EQ(manager->doMount("/nat/config", kTypeName, info), first);
   EXPECT_EQ(manager->getEntity("/nat/config"), first);
   EXPECT_EQ(first->name(), "/nat/config");
   EXPECT_EQ(created, 1);
   EXPECT_EQ(manager->mountRequests().size(), 2u);
}

TEST_F(EntityManagerTest, UnknownTypeIsATypeErrorAndStillRecorded) {
   try {
      manager->doMount("/nat/odd", "test::Unregistered", info);
      FAIL() << "mounting an unregistered type succeeded";
   } catch (const Kiv::TypeException& e) {
      EXPECT_THAT(e.what(), HasSubstr("'test::Unregistered'"));
      EXPECT_THAT(e.what(), HasSubstr("/nat/odd"));
   }
   EXPECT_EQ(manager->getEntity("/nat/odd"), nullptr);
   EXPECT_TRUE(manager->mountRequested("/nat/odd"));
   EXPECT_FALSE(manager->mountRequested("/nat/other"));
}

TEST_F(EntityManagerTest, PlacedEntityReplacesTheMountedOne) {
   manager->doMount("/nat/status", kTypeName, info);
   Kiv::Ptr<Kiv::Entity> replacement(new Kiv::Entity("replacement"));
   manager->entityIs("/nat/status", replacement);
   EXPECT_EQ(manager->doMount("/nat/status", kTypeName, info), replacement);
   manager->entityIs("/nat/status", nullptr);
   EXPECT_EQ(manager->getEntity("/nat/status"), nullptr);
}

struct Watcher : Kiv::PtrInterface {};

class ReadyReactor : public Kiv::Reactor<Watcher, KivSharedMem::MountGroup> {
public:
   using Reactor::Reactor;
   void onReady() override { ++readyCalls; }
   int readyCalls = 0;
};

class MountGroupTest : public EntityManagerTest {
protected:
   MountGroupTest() {
      reactor->isActiveIs(true);
      group->doMount("/b", kTypeName, info);
      group->doMount("/a", kTypeName, info);
   }

   Watcher watcher;
   Kiv::Ptr<KivSharedMem::MountGroup> group = manager->getMountGroup();
   Kiv::Ptr<ReadyReactor> reactor = new ReadyReactor(&watcher, group);
};

TEST_F(MountGroupTest, ReadyOnceAtCloseAndClosedToFurtherMounts) {
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

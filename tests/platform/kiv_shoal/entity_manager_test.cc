#include "platform/kiv_shoal/entity_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/kiv/errors.h"
#include "platform/kiv_shoal/table_factory.h"

namespace {

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

}  // namespace

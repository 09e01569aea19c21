#include "platform/tables/shoal/shared_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/framework/kiv/activity_lock.h"
#include "platform/framework/kiv/event_loop.h"
#include "platform/tables/kiv_shoal/entity_manager.h"
#include "platform/tables/kiv_shoal/table_factory.h"
#include "tests/platform/tables/counter_table.h"

namespace {

using enum KivShoal::KivShoalType;

using TableTest::CounterTable;
using TableTest::RecordReactor;

// Shared memory that outlives the agents mounting it: what a publisher wrote is there for
// every agent, an agent's own tables go with it, and mounts respect their access and size.
class SharedStoreTest : public ::testing::Test {
protected:
   SharedStoreTest() { KivShoal::tableTypeIs<CounterTable>(); }
   ~SharedStoreTest() override {
      Kiv::eventLoop().workDelAll();
      KivShoal::tableTypeDel(CounterTable::typeName);
   }

   // With a `capacity`, the table holds at most that many records.
   static Kiv::Ptr<CounterTable> mount(KivShoal::EntityManager& agent, const char* path,
                                       KivShoal::KivShoalType type, U32 capacity = 0) {
      KivShoal::MountInfo info(type);
      if (capacity != 0) info.collectionInfoIs({"statuses", capacity});
      return Kiv::ptrCast<CounterTable>(agent.doMount(path, CounterTable::typeName, info));
   }
   Kiv::Ptr<KivShoal::EntityManager> newAgent() {
      return new KivShoal::EntityManager("agent", store);
   }

   Kiv::ActivityGuard framework{Kiv::activityLock()};
   Kiv::Ptr<Shoal::SharedStore> store = new Shoal::SharedStore;
   Kiv::Ptr<CounterTable> published = Shoal::publisherMount<CounterTable>(*store, "nat/config");
};

TEST_F(SharedStoreTest, ARebuiltAgentSeesWhatWasPublishedAndItsOwnTablesStartEmpty) {
   published->recordIs({7, 1});
   Kiv::Ptr<KivShoal::EntityManager> agent = newAgent();
   mount(*agent, "nat/status", writer)->recordIs({7, 1});
   EXPECT_TRUE(store->table("nat/status"));
   agent = nullptr;
   EXPECT_FALSE(store->table("nat/status")) << "the agent's own table went with it";

   agent = newAgent();
   const Kiv::Ptr<CounterTable> config = mount(*agent, "nat/config", reader);
   EXPECT_EQ(config->lookup(7), (TableTest::Counter{7, 1}));
   EXPECT_EQ(mount(*agent, "nat/status", writer)->count(), 0u);
   // An agent that goes after a newer one took the path leaves the newer one's table.
   Kiv::Ptr<KivShoal::EntityManager> newer = newAgent();
   mount(*newer, "nat/status", writer);
   agent = nullptr;
   EXPECT_TRUE(store->table("nat/status"));
}

TEST_F(SharedStoreTest, AReaderMountCannotWrite) {
   Kiv::Ptr<KivShoal::EntityManager> agent = newAgent();
   const Kiv::Ptr<CounterTable> config = mount(*agent, "nat/config", watchingReader);
   EXPECT_THAT(
       [&] {
          config->recordIs({7, 1});
       },
       testing::ThrowsMessage<Kiv::Exception>(
           testing::StrEq("shared table 'nat/config' is mounted read-only: it cannot be written")));
   EXPECT_THROW(config->recordDel(7), Kiv::Exception);
   EXPECT_EQ(published->count(), 0u);
}

TEST_F(SharedStoreTest, AFullTableRefusesANewRecordAndKeepsTheOthers) {
   Kiv::Ptr<KivShoal::EntityManager> agent = newAgent();
   const Kiv::Ptr<CounterTable> statuses = mount(*agent, "nat/status", writer, 2);
   EXPECT_TRUE(statuses->recordIs({1, 1}));
   EXPECT_TRUE(statuses->recordIs({2, 1}));
   EXPECT_FALSE(statuses->recordIs({3, 1}));
   EXPECT_EQ(statuses->capacityReports(), 1u);
   EXPECT_TRUE(statuses->recordIs({2, 2})) << "a full table still takes changes";
   EXPECT_EQ(statuses->count(), 2u);
   EXPECT_EQ(statuses->lookup(2), (TableTest::Counter{2, 2}));
   EXPECT_FALSE(statuses->has(3));
}

TEST_F(SharedStoreTest, EveryLiveMountHearsOfAChangeThroughTheLoopAndADestroyedOneDoesNot) {
   TableTest::Watcher watcher;
   Kiv::Ptr<KivShoal::EntityManager> first = newAgent();
   Kiv::Ptr<KivShoal::EntityManager> second = newAgent();
   Kiv::Ptr<RecordReactor> onFirst(
       new RecordReactor(&watcher, mount(*first, "nat/config", reader)));
   Kiv::Ptr<RecordReactor> onSecond(
       new RecordReactor(&watcher, mount(*second, "nat/config", reader)));
   onFirst->isActiveIs(true);
   onSecond->isActiveIs(true);
   Kiv::eventLoop().doRunUntilIdle();  // the mounts fill
   published->recordIs({7, 1});
   EXPECT_TRUE(onFirst->keys.empty()) << "never on the writer's stack";
   EXPECT_EQ(Kiv::eventLoop().doRunUntilIdle(), 2u);
   // The second agent's mount goes before the loop delivers the next change: delivering to
   // it anyway would use it after it was freed.
   published->recordIs({8, 1});
   onSecond->notifierIs(nullptr);
   second = nullptr;
   Kiv::eventLoop().doRunUntilIdle();
   EXPECT_THAT(onFirst->keys, testing::ElementsAre(7, 8));
   EXPECT_THAT(onSecond->keys, testing::ElementsAre(7));
}

}  // namespace

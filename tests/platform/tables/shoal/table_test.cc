#include "platform/tables/shoal/table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "tests/platform/tables/counter_table.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

using TableTest::Counter;
using TableTest::CounterTable;
using TableTest::RecordReactor;
using TableTest::Watcher;

class CounterTableTest : public ::testing::Test {
protected:
   CounterTableTest() : table(new CounterTable("counters")) {
      for (U32 id : {5u, 1u, 3u, 2u}) table->recordIs(Counter{id, id * 10});
   }

   Kiv::Ptr<CounterTable> table;
};

TEST_F(CounterTableTest, SafeLookupReportsCorruptionOnlyOnTheChosenRead) {
   Kiv::Ptr<const CounterTable> reader = table;
   bool found = true;
   EXPECT_EQ(reader->safeLookup(4, found), Counter{});
   EXPECT_FALSE(found);
   table->corruptionOnReadIs(2);
   EXPECT_EQ(reader->safeLookup(3, found), (Counter{3, 30}));
   EXPECT_TRUE(found);
   EXPECT_EQ(reader->safeLookup(3, found), Counter{});
   EXPECT_FALSE(found);
   EXPECT_EQ(reader->safeLookup(3, found), (Counter{3, 30}));
   EXPECT_EQ(reader->corruptionMessages(),
             std::vector<Kiv::String>{reader->injectedCorruptionText()});
   EXPECT_THAT(reader->injectedCorruptionText(), HasSubstr("'counters'"));
}

TEST_F(CounterTableTest, TargetedCorruptionHitsOnlyItsOperationAndKeyOnce) {
   Kiv::Ptr<CounterTable> otherMount =
       new CounterTable("counters", table->sharedState(), Shoal::Access::readOnly);
   using Corruption = Sentry::CorruptionDetectedException;
   table->corruptionOnLookupIs(3);
   EXPECT_NO_THROW(otherMount->lookup(2));
   EXPECT_THROW(otherMount->lookup(3), Corruption);
   EXPECT_NO_THROW(otherMount->lookup(3));

   U32 key = 0;
   Shoal::IterHint hint;
   table->corruptionOnFirstIs();
   table->corruptionOnNextIs(2);
   EXPECT_THROW(otherMount->first(key, hint), Corruption);
   ASSERT_TRUE(otherMount->first(key, hint));
   EXPECT_NO_THROW(otherMount->next(key, hint)) << "an advance from 1";
   EXPECT_EQ(key, 2u);
   EXPECT_THROW(otherMount->next(key, hint), Corruption);
   EXPECT_TRUE(otherMount->next(key, hint));
   EXPECT_EQ(key, 3u);
}

TEST_F(CounterTableTest, NotifiesOncePerChangedKey) {
   Watcher watcher;
   Kiv::Ptr<RecordReactor> reactor(new RecordReactor(&watcher, table));
   reactor->isActiveIs(true);
   table->recordIs(Counter{3, 30});
   table->recordDel(4);
   table->recordIs(Counter{3, 31});
   table->recordIs(Counter{7, 70});
   table->recordDel(1);
   table->recordDelAll();
   EXPECT_THAT(reactor->keys, ElementsAre(3, 7, 1, 2, 3, 5, 7));
}

// A new key takes the lowest free entry, and freeing the top entry brings the entries in use
// down past the free ones under it: a table that held many keys once is read whole as cheaply
// as its keys now allow.
TEST(TableEntriesTest, NewKeysTakeTheLowestFreeEntryAndTheTopComesDownPastFreeOnes) {
   Kiv::Ptr<CounterTable> table = new CounterTable("entries");
   for (U32 id = 1; id <= 6; ++id) table->recordIs(Counter{id, 1});  // entries 0 to 5
   table->recordDel(2);
   table->recordDel(4);
   table->recordIs(Counter{7, 1});  // entry 1, leaving entry 3 free
   table->recordDel(5);
   EXPECT_EQ(table->entriesInUse(), 6u);
   table->recordDel(6);
   EXPECT_EQ(table->entriesInUse(), 3u);
   for (U32 id : {1u, 3u, 7u}) EXPECT_EQ(table->lookup(id), (Counter{id, 1}));
   for (U32 id = 8; id <= 11; ++id) table->recordIs(Counter{id, 1});
   EXPECT_EQ(table->entriesInUse(), 7u);
   EXPECT_EQ(table->count(), 7u);
}

}  // namespace

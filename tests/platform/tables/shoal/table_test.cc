#include "platform/tables/shoal/table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "platform/framework/kiv/reactor.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct Counter {
   U32 id = 0;
   U32 value = 0;
   U32 key() const { return id; }
   friend bool operator==(const Counter&, const Counter&) = default;
};

using CounterTable = Shoal::Table<U32, Counter>;

// Comparing with key 666 fails, to give reads an error other than corruption.
struct FragileKey {
   U32 id = 0;
   friend bool operator<(FragileKey a, FragileKey b) {
      if (a.id == 666 || b.id == 666) throw std::logic_error("poisoned key");
      return a.id < b.id;
   }
};

struct FragileRecord {
   FragileKey id;
   FragileKey key() const { return id; }
   friend bool operator==(FragileRecord a, FragileRecord b) { return a.id.id == b.id.id; }
};

class TableTest : public ::testing::Test {
protected:
   TableTest() : table(new CounterTable("counters")) {
      for (U32 id : {5u, 1u, 3u, 2u}) table->recordIs(Counter{id, id * 10});
   }

   Kiv::Ptr<CounterTable> table;
   Shoal::IterHint hint;
   U32 key = 0;
};

TEST_F(TableTest, SafeLookupReportsCorruptionOnlyOnTheChosenRead) {
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

TEST(FragileTableTest, SafeLookupLetsOtherErrorsThrough) {
   Kiv::Ptr<Shoal::Table<FragileKey, FragileRecord>> fragile(
       new Shoal::Table<FragileKey, FragileRecord>("fragile"));
   fragile->recordIs(FragileRecord{FragileKey{1}});
   bool found = false;
   EXPECT_THROW(fragile->safeLookup(FragileKey{666}, found), std::logic_error);
   EXPECT_EQ(fragile->corruptionReports(), 0u);
}

TEST_F(TableTest, IterationStepsAreReadsThatCanFail) {
   table->corruptionOnEveryReadIs(true);
   EXPECT_THROW(table->first(key, hint), Sentry::CorruptionDetectedException);
   EXPECT_THROW(table->next(key, hint), Sentry::CorruptionDetectedException);
   EXPECT_TRUE(table->has(1));
   table->corruptionInjectionDel();
   EXPECT_TRUE(table->first(key, hint));
}

TEST_F(TableTest, IterationAdvancesByKeyThroughChanges) {
   ASSERT_TRUE(table->first(key, hint));
   EXPECT_EQ(key, 1u);
   table->recordDel(1);
   ASSERT_TRUE(table->next(key, hint));
   EXPECT_EQ(key, 2u);
   table->recordIs(Counter{4, 40});
   std::vector<U32> rest;
   while (table->next(key, hint)) rest.push_back(key);
   EXPECT_THAT(rest, ElementsAre(3, 4, 5));

   // A hint left by another table must not be followed.
   Kiv::Ptr<CounterTable> other(new CounterTable("other"));
   other->recordIs(Counter{2, 0});
   other->recordIs(Counter{9, 0});
   ASSERT_TRUE(other->first(key, hint));
   ASSERT_TRUE(table->next(key, hint));
   EXPECT_EQ(key, 3u);
}

struct Watcher : Kiv::PtrInterface {};

class RecordReactor : public Kiv::Reactor<Watcher, CounterTable> {
public:
   using Reactor::Reactor;
   void onRecord(const U32& changed) override { keys.push_back(changed); }
   std::vector<U32> keys;
};

TEST_F(TableTest, NotifiesOncePerChangedKey) {
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

}  // namespace

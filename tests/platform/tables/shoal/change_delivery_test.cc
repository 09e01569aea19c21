#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "platform/framework/kiv/activity_lock.h"
#include "platform/framework/kiv/event_loop.h"
#include "platform/tables/shoal/doorbell.h"
#include "platform/tables/shoal/shared_store.h"
#include "tests/platform/tables/counter_table.h"
#include "tests/support/child_process.h"

namespace {

using TableTest::Counter;
using TableTest::CounterTable;
using TableTest::RecordReactor;
using ::testing::ElementsAre;

// A table in a store's segment, written through one mount and watched through another, as the
// control plane writes and an agent reads.
class ChangeDeliveryTest : public ::testing::Test {
protected:
   ~ChangeDeliveryTest() override { Kiv::eventLoop().workDelAll(); }

   // A reader mount with a reactor, filled.
   Kiv::Ptr<RecordReactor> watch() {
      Kiv::Ptr<CounterTable> reader =
          new CounterTable("counters", writer->sharedState(), Shoal::Access::readOnly);
      Kiv::Ptr<RecordReactor> reactor = new RecordReactor(&watcher, reader);
      reactor->isActiveIs(true);
      return reactor;
   }
   std::vector<U32> heard(RecordReactor& reactor) {
      Kiv::eventLoop().doRunUntilIdle();
      return std::exchange(reactor.keys, {});
   }

   Kiv::ActivityGuard framework{Kiv::activityLock()};
   Kiv::Ptr<Shoal::SharedStore> store = new Shoal::SharedStore;
   Kiv::Ptr<CounterTable> writer = Shoal::publisherMount<CounterTable>(*store, "counters");
   TableTest::Watcher watcher;
};

TEST_F(ChangeDeliveryTest, AMountHearsEachKeyChangedSinceItWasMadeOnce) {
   writer->recordIs({9, 1});
   const Kiv::Ptr<RecordReactor> reactor = watch();
   writer->recordIs({8, 1});
   EXPECT_THAT(heard(*reactor), ElementsAre(8)) << "what was there when it was made is not news";
   for (U32 value = 2; value < 5; ++value) writer->recordIs({1, value});
   writer->recordIs({2, 1});
   writer->recordDel(2);
   writer->recordDel(9);
   EXPECT_THAT(heard(*reactor), ElementsAre(1, 2, 9));
   EXPECT_EQ(reactor->notifier()->lookup(1), (Counter{1, 4}));
}

// An agent that stops drops the loop's work, the drains of the mounts that live on too.
TEST_F(ChangeDeliveryTest, AMountWhoseDrainTheLoopForgotQueuesItAgain) {
   const Kiv::Ptr<RecordReactor> reactor = watch();
   heard(*reactor);
   writer->recordIs({1, 1});
   Kiv::eventLoop().workDelAll();
   writer->recordIs({2, 1});
   EXPECT_THAT(heard(*reactor), ElementsAre(1, 2));
}

// More changes than a ring holds: the mount compares every entry instead, and tells a deleted
// key whose entry a new key took, and then hears later changes through its ring again.
TEST_F(ChangeDeliveryTest, AFullRingTurnsIntoAResyncThatLosesNoKey) {
   for (U32 id = 0; id < 1000; ++id) writer->recordIs({id, 1});
   const Kiv::Ptr<RecordReactor> reactor = watch();
   heard(*reactor);
   for (U32 id = 0; id < 500; ++id) writer->recordDel(id);
   for (U32 id = 1000; id < 3000; ++id) writer->recordIs({id, 1});
   for (U32 id = 500; id < 1000; ++id) writer->recordIs({id, 2});
   std::vector<U32> keys = heard(*reactor);
   std::sort(keys.begin(), keys.end());
   std::vector<U32> every(3000);
   std::iota(every.begin(), every.end(), 0);
   EXPECT_EQ(keys, every);
   writer->recordIs({600, 3});
   EXPECT_THAT(heard(*reactor), ElementsAre(600));
}
// The ring is full when the top entry's key is deleted, and the entries in use come down
// below it: the resync still compares the entry the mount saw in use.
TEST_F(ChangeDeliveryTest, AResyncTellsAKeyDeletedAboveTheEntriesInUse) {
   store->changeRingEntriesIs(1);
   writer = Shoal::publisherMount<CounterTable>(*store, "short ring");
   for (U32 id = 1; id <= 3; ++id) writer->recordIs({id, 1});
   const Kiv::Ptr<RecordReactor> reactor = watch();
   heard(*reactor);
   writer->recordIs({1, 2});
   writer->recordDel(3);
   EXPECT_EQ(writer->entriesInUse(), 2u);
   std::vector<U32> keys = heard(*reactor);
   std::sort(keys.begin(), keys.end());
   EXPECT_THAT(keys, ElementsAre(1, 3));
}

// A mount that dies leaves its pending bits set. Its slot's next holder clears them below the
// entries in use when it is made; an entry above them was cleared when they came down, and
// its next change reaches the new mount's ring.
TEST_F(ChangeDeliveryTest, AMountSlotsNextHolderHearsAnEntryItsLastHolderLeftPending) {
   Shoal::TableState& state = *writer->sharedState();
   const U32 dead = state.mountSlotNew([] {});
   state.mountSlotActiveIs(dead);
   writer->recordIs({1, 1});
   state.mountSlotDel(dead);
   writer->recordDel(1);
   const Kiv::Ptr<RecordReactor> reactor = watch();
   heard(*reactor);
   writer->recordIs({1, 2});
   EXPECT_THAT(heard(*reactor), ElementsAre(1));
}

// A mount that fills a few entries per turn of the loop is not complete until it has. A change
// made meanwhile is told whether the fill has passed its entry or not, also when the ring
// overflows and the fill starts again; what was there before the mount is not told.
TEST_F(ChangeDeliveryTest, AMountThatFillsSlowlyTellsWhatChangedMeanwhileOnce) {
   store->mountFillPaceIs(4);
   store->changeRingEntriesIs(1);
   writer = Shoal::publisherMount<CounterTable>(*store, "paced");
   for (U32 id = 0; id < 10; ++id) writer->recordIs({id, 1});
   Kiv::eventLoop().doRunUntilIdle();
   const Kiv::Ptr<RecordReactor> reactor = watch();
   Kiv::eventLoop().doStep();
   EXPECT_FALSE(reactor->notifier()->mountComplete());

   writer->recordIs({1, 2});
   writer->recordIs({2, 2});  // the ring is full: a resync
   writer->recordIs({9, 2});
   writer->recordIs({10, 1});
   EXPECT_THAT(heard(*reactor), ElementsAre(1, 2, 9, 10));
   EXPECT_TRUE(reactor->notifier()->mountComplete());
}

TEST_F(ChangeDeliveryTest, AWalkPassesOverKeysDeletedDuringItInKeyOrder) {
   for (U32 id : {5u, 1u, 3u, 2u}) writer->recordIs({id, 1});
   U32 key = 0;
   Shoal::IterHint hint;
   std::vector<U32> walked;
   for (bool more = writer->first(key, hint); more; more = writer->next(key, hint)) {
      walked.push_back(key);
      if (key == 1) writer->recordDel(2);
   }
   EXPECT_THAT(walked, ElementsAre(1, 3, 5));
}

// A writer that starts again makes its table anew: readers of the old one are told once.
TEST_F(ChangeDeliveryTest, ATableReplacedAtItsPathIsRetiredForItsMounts) {
   const Kiv::Ptr<RecordReactor> reactor = watch();
   heard(*reactor);
   EXPECT_EQ(reactor->retired, 0);
   store->tableIs("counters", {CounterTable::typeName, store->tableNew(CounterTable::shape(), 0)});
   heard(*reactor);
   writer->recordIs({1, 1});
   EXPECT_THAT(heard(*reactor), ElementsAre(1)) << "a late write of the old writer";
   EXPECT_EQ(reactor->retired, 1);
}

// Without the blocks of deleted tables given back, the segment runs out well before this.
TEST_F(ChangeDeliveryTest, ADeletedTableIsGivenBackWhenItsLastMountGoes) {
   for (int round = 0; round < 300; ++round) {
      Kiv::Ptr<CounterTable> table = Shoal::publisherMount<CounterTable>(*store, "churn");
      table->recordIs({1, 1});
      store->tableDel("churn");
      EXPECT_EQ(table->lookup(1), (Counter{1, 1})) << "a deleted table lives on for its mounts";
   }
}

// A writer in another process, killed at any instant, leaves every record whole and nothing
// held: its mounts' slots are taken back, and a new writer goes on.
TEST_F(ChangeDeliveryTest, AWriterKilledMidWriteLeavesWholeRecordsAndNoSlotHeld) {
   const std::string segmentName = store->segment().name();
   TestSupport::Child child([&](int said) {
      std::unique_ptr<Segment::SwitchSegment> segment = Segment::SwitchSegment::attach(segmentName);
      Kiv::Ptr<Shoal::SharedStore> attached = new Shoal::SharedStore(*segment);
      std::vector<Kiv::Ptr<CounterTable>> mounts;
      for (U32 i = 1; i < Shoal::TableHeader::maxMounts; ++i) {
         mounts.push_back(Shoal::publisherMount<CounterTable>(*attached, "counters"));
      }
      for (U32 id = 0; id < 64; ++id) mounts.back()->recordIs({id, id});
      EXPECT_EQ(write(said, "writing", 7), 7);
      for (U32 round = 1;; ++round) {
         for (U32 id = 0; id < 64; ++id) mounts.back()->recordIs({id, round * 1000 + id});
      }
   });
   usleep(20000);
   child.doKill();
   for (U32 id = 0; id < 64; ++id) EXPECT_EQ(writer->lookup(id)->value % 1000, id);
   const Kiv::Ptr<RecordReactor> reactor = watch();
   writer->recordIs({7, 1});
   EXPECT_THAT(heard(*reactor), ElementsAre(7));
}

// The child writes and stays: the parent's loop hears of it through the doorbell alone.
// Another process waits for a reader to have seen the store's change count. A mount is rung
// once the change is in its ring and counted, so a reader woken by the ring sees both, and a
// reader that took the change before the count moved is woken again to see the count.
TEST_F(ChangeDeliveryTest, AMountIsRungOnceTheChangeIsInItsRingAndCounted) {
   Shoal::TableState& state = *writer->sharedState();
   std::vector<std::pair<U64, bool>> whenRung;  // the count, and whether the ring held the change
   U32 slot = 0;
   slot = state.mountSlotNew([&] {
      U32 entry = 0;
      whenRung.emplace_back(store->changes(), state.ringPop(slot, entry));
   });
   state.mountSlotActiveIs(slot);
   const U64 before = store->changes();
   writer->recordIs({1, 1});
   writer->recordIs({1, 2});
   EXPECT_THAT(whenRung, ElementsAre(std::pair{before + 1, true}, std::pair{before + 2, false}))
       << "the second change finds the entry's bit set and is not pushed again, but rings";
   state.mountSlotDel(slot);
}

// The writer sets an entry's bit again between a drain clearing it and reading the record:
// here the drain runs from inside the write, after the record and before the bit. The drain
// has told the newer record, and the bit brings nothing more.
class DrainDuringWrite : public TableTest::RecordReactor {
public:
   using RecordReactor::RecordReactor;
   void onRecord(const U32&) override { Kiv::eventLoop().doRunUntilIdle(); }
};

TEST_F(ChangeDeliveryTest, AChangeTheMountToldIsNotPendingWhileItsBitIsSetAgain) {
   const Kiv::Ptr<RecordReactor> reactor = watch();
   heard(*reactor);
   writer->recordIs({1, 1});
   const Kiv::Ptr<DrainDuringWrite> drainer = new DrainDuringWrite(&watcher, writer);
   drainer->isActiveIs(true);
   writer->recordIs({1, 2});
   drainer->isActiveIs(false);

   EXPECT_THAT(reactor->keys, ElementsAre(1));
   EXPECT_FALSE(reactor->notifier()->changePending(1));
   EXPECT_THAT(heard(*reactor), ElementsAre(1)) << "nothing more than the one told already";
   writer->recordIs({1, 3});
   EXPECT_TRUE(reactor->notifier()->changePending(1));
}

TEST_F(ChangeDeliveryTest, AWriterInAnotherProcessRingsTheReadersDoorbell) {
   const Kiv::Ptr<RecordReactor> reactor = watch();
   heard(*reactor);
   const std::string segmentName = store->segment().name();
   TestSupport::Child child([&](int said) {
      std::unique_ptr<Segment::SwitchSegment> segment = Segment::SwitchSegment::attach(segmentName);
      Kiv::Ptr<Shoal::SharedStore> attached = new Shoal::SharedStore(*segment);
      Shoal::publisherMount<CounterTable>(*attached, "counters")->recordIs({5, 1});
      EXPECT_EQ(write(said, "written", 7), 7);
      pause();
   });
   pollfd bell{Shoal::Doorbell::self().descriptor(), POLLIN, 0};
   ASSERT_EQ(poll(&bell, 1, 5000), 1);
   EXPECT_THAT(heard(*reactor), ElementsAre()) << "nothing before the loop answers";
   Shoal::Doorbell::self().doAnswer();
   EXPECT_THAT(heard(*reactor), ElementsAre(5));
}

TEST(DoorbellTest, AForkedChildAnswersToItsOwnDoorbell) {
   const int parentBell = Shoal::Doorbell::self().descriptor();
   Shoal::Doorbell::self().doAnswer();
   TestSupport::Child child([&](int said) {
      pollfd bell{Shoal::Doorbell::self().descriptor(), POLLIN, 0};
      Shoal::Doorbell::doRing(getpid());
      const char* heard = poll(&bell, 1, 5000) == 1 ? "rung" : "not rung";
      EXPECT_GT(write(said, heard, std::strlen(heard)), 0);
      pause();
   });
   EXPECT_EQ(child.said, "rung");
   pollfd bell{parentBell, POLLIN, 0};
   EXPECT_EQ(poll(&bell, 1, 0), 0) << "the child's ring is not the parent's";
}

}  // namespace

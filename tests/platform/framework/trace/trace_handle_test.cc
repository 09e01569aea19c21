#include "platform/framework/trace/trace_handle.h"

#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

#include "platform/framework/kiv/errors.h"

namespace {

class TraceHandleTest : public ::testing::Test {
protected:
   // Handles live for the whole process, so each test works on a facility of its own.
   Kiv::TraceHandle& handle_ =
       Kiv::traceHandle(::testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST_F(TraceHandleTest, ConcurrentFirstUseCreatesOneFacilityFoundByName) {
   constexpr int threads = 8;
   std::vector<Kiv::TraceHandle*> found(threads);
   std::latch start(threads);
   std::vector<std::thread> workers;
   for (int i = 0; i < threads; ++i) {
      workers.emplace_back([&found, &start, i] {
         start.arrive_and_wait();
         found[i] = &Kiv::traceHandle("TraceHandleTest.Concurrent");
      });
   }
   for (std::thread& worker : workers) worker.join();
   for (Kiv::TraceHandle* handle : found) EXPECT_EQ(handle, found.front());
   EXPECT_EQ(&Kiv::traceHandle("TraceHandleTest.Concurrent"), found.front());
   EXPECT_NE(&Kiv::traceHandle("TraceHandleTest.Other"), found.front());
}

TEST_F(TraceHandleTest, LevelsSwitchOneByOne) {
   for (U32 level = 0; level <= Kiv::TraceHandle::maxLevel; ++level) {
      EXPECT_FALSE(handle_.enabled(level)) << level;
   }
   handle_.levelIs(0, true);
   handle_.levelIs(9, true);
   EXPECT_TRUE(handle_.enabled(0));
   EXPECT_TRUE(handle_.enabled(9));
   EXPECT_FALSE(handle_.enabled(5));

   handle_.allLevelsIs(true);
   handle_.levelIs(9, false);
   EXPECT_TRUE(handle_.enabled(8));
   EXPECT_FALSE(handle_.enabled(9));
   EXPECT_FALSE(handle_.enabled(10));

   handle_.allLevelsIs(false);
   EXPECT_FALSE(handle_.enabled(0));
   EXPECT_THROW(handle_.levelIs(10, true), Kiv::RangeException);
}

}  // namespace

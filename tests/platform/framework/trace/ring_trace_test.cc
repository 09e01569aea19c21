#include "platform/framework/trace/ring_trace.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <thread>

namespace {

class RingTraceTest : public ::testing::Test {
protected:
   void SetUp() override { Kiv::RingTrace::capacityIs(Kiv::RingTrace::defaultCapacity); }
   void TearDown() override { Kiv::RingTrace::capacityIs(Kiv::RingTrace::defaultCapacity); }

   using Lines = std::vector<Kiv::String>;
};

struct RenderCase {
   const char* name;
   std::function<void()> record;
   const char* expected;
};

TEST_F(RingTraceTest, RendersEveryArgumentKind) {
   const Kiv::String owned = "key";
   const RenderCase cases[] = {
       {"no arguments", [] { KIV_RING_TRACE("plain"); }, "plain"},
       {"bools", [] { KIV_RING_TRACE("{}/{}", true, false); }, "true/false"},
       {"small signed", [] { KIV_RING_TRACE("{}", std::int8_t{-128}); }, "-128"},
       {"wide signed", [] { KIV_RING_TRACE("{}", std::numeric_limits<S64>::min()); },
        "-9223372036854775808"},
       {"small unsigned", [] { KIV_RING_TRACE("{}", U8{255}); }, "255"},
       {"wide unsigned", [] { KIV_RING_TRACE("{}", std::numeric_limits<U64>::max()); },
        "18446744073709551615"},
       {"strings", [&owned] { KIV_RING_TRACE("[{}|{}|{}]", owned, "lit", std::string_view()); },
        "[key|lit|]"},
       {"adjacent placeholders", [] { KIV_RING_TRACE("{}{}", 1, 2); }, "12"},
       {"other braces are text", [] { KIV_RING_TRACE("{x} { } {}", 3); }, "{x} { } 3"},
   };
   for (const RenderCase& test : cases) {
      Kiv::RingTrace::clear();
      test.record();
      EXPECT_EQ(Kiv::RingTrace::lines(), Lines{test.expected}) << test.name;
   }
}

TEST_F(RingTraceTest, RecordsWrappingTheEndRenderIntact) {
   // 26-byte records in 64 bytes: over 24 records the wrap point falls inside headers,
   // payload integers and payload strings.
   Kiv::RingTrace::capacityIs(64);
   Lines expected;
   for (U64 i = 0; i < 24; ++i) {
      KIV_RING_TRACE("n {} s {}", i, "abcdef");
      expected.push_back(Kiv::format("n %llu s abcdef", static_cast<unsigned long long>(i)));
      const std::size_t kept = std::min<std::size_t>(expected.size(), 2);
      EXPECT_EQ(Kiv::RingTrace::lines(), Lines(expected.end() - kept, expected.end())) << i;
   }
   EXPECT_EQ(Kiv::RingTrace::threadBuffer().dropped(), 22u);
}

TEST_F(RingTraceTest, LargeRecordDropsAsManyOldestAsItNeedsAndTooLargeOneOnlyItself) {
   Kiv::RingTrace::capacityIs(64);
   for (int i = 0; i < 3; ++i) KIV_RING_TRACE("small {}", i);
   KIV_RING_TRACE("large {}", Kiv::String(30, 'x'));
   const Lines kept{"small 2", "large " + Kiv::String(30, 'x')};
   EXPECT_EQ(Kiv::RingTrace::lines(), kept);
   const U64 dropped = Kiv::RingTrace::threadBuffer().dropped();
   KIV_RING_TRACE("too large {}", Kiv::String(60, 'x'));
   EXPECT_EQ(Kiv::RingTrace::lines(), kept);
   EXPECT_EQ(Kiv::RingTrace::threadBuffer().dropped(), dropped + 1);
}

TEST_F(RingTraceTest, EachThreadHasItsOwnBuffer) {
   KIV_RING_TRACE("main {}", 1);
   Lines workerLines;
   std::thread worker([&workerLines] {
      KIV_RING_TRACE("worker {}", 2);
      workerLines = Kiv::RingTrace::lines();
   });
   worker.join();
   EXPECT_EQ(workerLines, Lines{"worker 2"});
   EXPECT_EQ(Kiv::RingTrace::lines(), Lines{"main 1"});
}

}  // namespace

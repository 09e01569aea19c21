#include "platform/framework/trace/ring_trace.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>

#include "platform/framework/trace/capture_trace_sink.h"
#include "platform/framework/trace/dual_trace.h"

namespace {

// This thread's ring, empty, and the facility "RingTraceTest" with level 4 alone on and
// captured.
class RingTraceTest : public ::testing::Test {
protected:
   RingTraceTest() {
      Kiv::RingTrace::clear();
      handle.allLevelsIs(false);
      handle.levelIs(4, true);
   }
   ~RingTraceTest() override { Kiv::RingTrace::capacityIs(Kiv::RingTrace::defaultCapacity); }

   using Lines = std::vector<Kiv::String>;
   Kiv::TraceHandle& handle = Kiv::traceHandle("RingTraceTest");
   Kiv::CaptureTraceSink capture;
};

TEST_F(RingTraceTest, RendersEveryArgumentKind) {
   const Kiv::String owned = "key";
   const struct {
      const char* name;
      std::function<void()> record;
      const char* expected;
   } cases[] = {
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
   for (const auto& test : cases) {
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

TEST_F(RingTraceTest, DualTraceGivesTheFacilityTheRingTextOnlyWhileTheLevelIsOn) {
   int evaluated = 0;
   const int line = __LINE__ + 1;
   KIV_DUAL_TRACE(handle, 4, "SPSm::{} uid: {} [{}]", Kiv::String("freeEntry"), ++evaluated, "");
   KIV_DUAL_TRACE(handle, 5, "entry {}", ++evaluated);
   const Kiv::String text = "SPSm::freeEntry uid: 1 []";
   const Kiv::CapturedTrace expected{"RingTraceTest", 4, __FILE__, line, "TestBody", text};
   EXPECT_EQ(capture.messages(), std::vector<Kiv::CapturedTrace>{expected});
   EXPECT_EQ(Kiv::RingTrace::lines(), (Lines{text, "entry 2"}));
}

// A value whose text is costly: counts how often it is built.
struct Costly {
   int id;
   static inline int texts = 0;
   Kiv::String stringValue() const {
      ++texts;
      return "costly " + std::to_string(id);
   }
};

TEST_F(RingTraceTest, LazyTextIsBuiltOnlyForAFacilityThatShowsItOrWhenTheRingIsRead) {
   Costly::texts = 0;
   Costly value{7};
   KIV_DUAL_TRACE(handle, 5, "key {} vlan {}", Kiv::lazyText(value), 10);
   EXPECT_EQ(Costly::texts, 0);
   value.id = 8;  // the ring holds the value as it was
   KIV_DUAL_TRACE(handle, 4, "key {}", Kiv::lazyText(value));
   EXPECT_EQ(Costly::texts, 1);
   EXPECT_EQ(capture.messages().at(0).text, "key costly 8");
   EXPECT_EQ(Kiv::RingTrace::lines(), (Lines{"key costly 7 vlan 10", "key costly 8"}));
}

}  // namespace

#include "platform/framework/trace/dual_trace.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/framework/trace/capture_trace_sink.h"

namespace {

class DualTraceTest : public ::testing::Test {
protected:
   void SetUp() override {
      handle_.allLevelsIs(false);
      handle_.levelIs(4, true);
      Kiv::RingTrace::clear();
   }

   using Lines = std::vector<Kiv::String>;

   Kiv::TraceHandle& handle_ = Kiv::traceHandle("DualTraceTest");
   Kiv::CaptureTraceSink capture_;
};

TEST_F(DualTraceTest, BothTracesGetTheSameTextForEveryKind) {
   const Kiv::String op = "freeEntry";
   const int line = __LINE__ + 1;
   KIV_DUAL_TRACE(handle_, 4, "SPSm::{} uid: {} {} {} {} [{}]", op, U32{7}, false, S32{-5},
                  std::numeric_limits<U64>::max(), Kiv::String());
   const Kiv::String text = "SPSm::freeEntry uid: 7 false -5 18446744073709551615 []";
   const Kiv::CapturedTrace expected{"DualTraceTest", 4, __FILE__, line, "TestBody", text};
   EXPECT_EQ(capture_.messages(), std::vector<Kiv::CapturedTrace>{expected});
   EXPECT_EQ(Kiv::RingTrace::lines(), Lines{text});
}

TEST_F(DualTraceTest, DisabledLevelStillRecordsInTheRing) {
   int evaluated = 0;
   KIV_DUAL_TRACE(handle_, 5, "entry {}", ++evaluated);
   EXPECT_TRUE(capture_.messages().empty());
   EXPECT_EQ(Kiv::RingTrace::lines(), Lines{"entry 1"});
   EXPECT_EQ(evaluated, 1);
}

}  // namespace

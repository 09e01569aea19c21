#include "platform/framework/trace/trace.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/framework/trace/capture_trace_sink.h"

namespace {

class TraceTest : public ::testing::Test {
protected:
   void SetUp() override {
      handle_.allLevelsIs(false);
      handle_.levelIs(2, true);
   }

   Kiv::TraceHandle& handle_ = Kiv::traceHandle("TraceTest");
   Kiv::CaptureTraceSink capture_;
};

TEST_F(TraceTest, TextIsBuiltOnlyForEnabledLevelsAndNamesFacilityLevelAndCallSite) {
   int built = 0;
   auto text = [&built] { return Kiv::format("entry %d", ++built); };
   KIV_TRACE(handle_, 3, text());
   EXPECT_EQ(built, 0);
   const int line = __LINE__ + 1;
   KIV_TRACE(handle_, 2, text());
   const Kiv::CapturedTrace expected{"TraceTest", 2, __FILE__, line, "TestBody", "entry 1"};
   EXPECT_EQ(capture_.messages(), std::vector<Kiv::CapturedTrace>{expected});
}

TEST_F(TraceTest, NestedCaptureRestoresTheOuterOne) {
   {
      Kiv::CaptureTraceSink inner;
      Kiv::trace(handle_, 2, "a.cc", 1, "op", "inner");
      EXPECT_EQ(inner.texts(), std::vector<Kiv::String>{"inner"});
   }
   Kiv::trace(handle_, 2, "a.cc", 2, "op", "outer");
   EXPECT_EQ(capture_.texts(), std::vector<Kiv::String>{"outer"});
}

TEST_F(TraceTest, StreamSinkWritesOneLinePerMessageAtItsExplicitCallSite) {
   std::ostringstream out;
   Kiv::StreamTraceSink stream(out);
   Kiv::TraceSink* previous = Kiv::traceSinkIs(&stream);
   Kiv::trace(handle_, 2, "nat.cc", 7, "ruleAdd", "first");
   Kiv::trace(handle_, 4, "nat.cc", 8, "ruleAdd", "level off");
   Kiv::trace(handle_, 2, "nat.cc", 8, "ruleAdd", "second");
   Kiv::traceSinkIs(previous);
   EXPECT_EQ(out.str(),
             "TraceTest/2 nat.cc:7 ruleAdd: first\nTraceTest/2 nat.cc:8 ruleAdd: second\n");
}

}  // namespace

#include "platform/trace/event_log.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/kiv/assert.h"
#include "platform/trace/capture_log_sink.h"

namespace {

class EventLogTest : public ::testing::Test {
protected:
   static Kiv::LogHandle handle(const Kiv::String& format) {
      return Kiv::LogHandle("NAT_TEST", Kiv::LogSeverity::error, format, "explained",
                            Kiv::NoActionRequired, 0.0, 0.0, 0);
   }

   Kiv::CaptureLogSink capture_;
};

TEST_F(EventLogTest, RaiseDeliversNameSeverityAndText) {
   const Kiv::LogHandle full("NAT_HW_RESOURCE_FULL", Kiv::LogSeverity::error,
                             "Hardware resources are insufficient to add NAT rule with key %s",
                             "The NAT table in hardware is full.", Kiv::CallSupportIfPersists, 15.0,
                             60.0, 1);
   EXPECT_TRUE(capture_.records().empty());
   Kiv::log(full, "<type: x>");
   const Kiv::LogRecord expected{
       "NAT_HW_RESOURCE_FULL", Kiv::LogSeverity::error,
       "Hardware resources are insufficient to add NAT rule with key <type: x>"};
   EXPECT_EQ(capture_.records(), std::vector<Kiv::LogRecord>{expected});
}

TEST_F(EventLogTest, HandleKeepsItsDefinition) {
   const Kiv::LogHandle defined("NAT_INFO", Kiv::LogSeverity::informational, "rule %s", "why",
                                Kiv::NoActionRequired, 1.5, 2.5, 3);
   EXPECT_EQ(defined.name(), "NAT_INFO");
   EXPECT_EQ(defined.severity(), Kiv::LogSeverity::informational);
   EXPECT_EQ(defined.format(), "rule %s");
   EXPECT_EQ(defined.explanation(), "why");
   EXPECT_EQ(defined.recommendedAction(), "No action is required.");
   EXPECT_EQ(defined.minInterval(), 1.5);
   EXPECT_EQ(defined.maxInterval(), 2.5);
   EXPECT_EQ(defined.flag(), 3);
}

struct SubstitutionCase {
   const char* format;
   const char* argument;
   const char* expected;
};

TEST_F(EventLogTest, ArgumentReplacesThePlaceholderVerbatim) {
   const SubstitutionCase cases[] = {
       {"%s", "whole", "whole"},
       {"%s at start", "x", "x at start"},
       {"at end %s", "x", "at end x"},
       {"100% of %s used", "table", "100% of table used"},
       {"key %s", "%s %d %n", "key %s %d %n"},
       {"empty [%s]", "", "empty []"},
   };
   for (const SubstitutionCase& test : cases) {
      EXPECT_EQ(handle(test.format).text(test.argument), test.expected) << test.format;
   }
}

TEST_F(EventLogTest, FormatNeedsExactlyOnePlaceholder) {
   const Kiv::AssertionHandler previous = Kiv::assertionHandlerIs(&Kiv::throwingAssertionHandler);
   for (const char* format : {"", "none", "%s and %s"}) {
      EXPECT_THROW(handle(format), Kiv::AssertionFailure) << format;
   }
   Kiv::assertionHandlerIs(previous);
}

TEST_F(EventLogTest, StreamSinkPrintsNameAndText) {
   std::ostringstream out;
   Kiv::StreamLogSink stream(out);
   Kiv::LogSink* previous = Kiv::logSinkIs(&stream);
   Kiv::log(handle("lost %s"), "entry");
   Kiv::logSinkIs(previous);
   EXPECT_EQ(out.str(), "NAT_TEST: lost entry\n");
}

}  // namespace

#include "platform/framework/trace/event_log.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/framework/kiv/assert.h"
#include "platform/framework/trace/capture_log_sink.h"

namespace {

class EventLogTest : public ::testing::Test {
protected:
   static Kiv::LogHandle handle(const Kiv::String& format) {
      return Kiv::LogHandle("NAT_TEST", Kiv::LogSeverity::error, format, "explained",
                            Kiv::NoActionRequired, 0.0, 0.0, 0);
   }

   Kiv::CaptureLogSink capture_;
};

TEST_F(EventLogTest, RaiseDeliversNameSeverityAndTextToTheSink) {
   Kiv::log(handle("lost %s"), "entry");
   const Kiv::LogRecord expected{"NAT_TEST", Kiv::LogSeverity::error, "lost entry"};
   EXPECT_EQ(capture_.records(), std::vector<Kiv::LogRecord>{expected});

   std::ostringstream out;
   Kiv::StreamLogSink stream(out);
   Kiv::LogSink* previous = Kiv::logSinkIs(&stream);
   Kiv::log(handle("lost %s"), "entry");
   Kiv::logSinkIs(previous);
   EXPECT_EQ(out.str(), "NAT_TEST: lost entry\n");
}

struct SubstitutionCase {
   const char* format;
   const char* argument;
   const char* expected;
};

TEST_F(EventLogTest, ArgumentReplacesThePlaceholderVerbatim) {
   const SubstitutionCase cases[] = {
       {"%s", "whole", "whole"},
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

}  // namespace

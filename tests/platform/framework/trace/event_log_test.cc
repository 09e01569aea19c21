#include "platform/framework/trace/event_log.h"

#include <gtest/gtest.h>

#include "platform/framework/kiv/assert.h"

namespace {

Kiv::LogHandle handle(const Kiv::String& format) {
   return Kiv::LogHandle("NAT_TEST", Kiv::LogSeverity::error, format, "explained",
                         Kiv::NoActionRequired, 0.0, 0.0, 0);
}

TEST(EventLogTest, ArgumentReplacesTheOnePlaceholderVerbatim) {
   const struct {
      const char* format;
      const char* argument;
      const char* expected;
   } cases[] = {
       {"%s", "whole", "whole"},
       {"100% of %s used", "table", "100% of table used"},
       {"key %s", "%s %d %n", "key %s %d %n"},
       {"empty [%s]", "", "empty []"},
   };
   for (const auto& test : cases) {
      EXPECT_EQ(handle(test.format).text(test.argument), test.expected) << test.format;
   }
   const Kiv::AssertionHandler previous = Kiv::assertionHandlerIs(&Kiv::throwingAssertionHandler);
   for (const char* format : {"", "none", "%s and %s"}) {
      EXPECT_THROW(handle(format), Kiv::AssertionFailure) << format;
   }
   Kiv::assertionHandlerIs(previous);
}

}  // namespace

#include "TesselNat/event_log_messages.h"

#include <gtest/gtest.h>

#include "platform/framework/trace/event_log.h"

namespace {

TEST(EventLogMessagesTest, DefinitionsCarryTheirSeverityAdviceAndParameters) {
   struct Expected {
      const Kiv::LogHandle& handle;
      const char* name;
      Kiv::LogSeverity severity;
      const char* action;
   };
   const Expected table[] = {
       {TesselNat::tesselConfigChange(), "TESSEL_CONFIG_CHANGE", Kiv::LogSeverity::informational,
        Kiv::NoActionRequired},
       {TesselNat::tesselUnexpectedRestart(), "TESSEL_UNEXPECTED_RESTART", Kiv::LogSeverity::error,
        Kiv::CallSupportIfPersists},
       {TesselNat::tesselNatTcamResourceFull(), "TESSEL_NAT_TCAM_RESOURCE_FULL",
        Kiv::LogSeverity::error,
        "Reconfigure the system to clear up hardware resources before configuring this NAT rule"},
   };
   for (const Expected& row : table) {
      SCOPED_TRACE(row.name);
      EXPECT_EQ(row.handle.name(), row.name);
      EXPECT_EQ(row.handle.severity(), row.severity);
      EXPECT_EQ(row.handle.recommendedAction(), row.action);
      EXPECT_EQ(row.handle.minInterval(), 0.0);
      EXPECT_EQ(row.handle.maxInterval(), 1.0);
      EXPECT_EQ(row.handle.flag(), 0);
   }
}

}  // namespace

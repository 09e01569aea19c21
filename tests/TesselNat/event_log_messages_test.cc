#include "TesselNat/event_log_messages.h"

#include <gtest/gtest.h>

#include "platform/records/ember/nat_hw_key.h"
#include "platform/framework/trace/capture_log_sink.h"
#include "platform/framework/trace/event_log.h"

namespace {

TEST(EventLogMessagesTest, TcamFullCarriesTheKeyTextBetweenAngleBrackets) {
   const Ember::NatHwKey key = Ember::NatHwKey().typeIs(Ember::NatKeyType::staticSrcNat);
   Kiv::CaptureLogSink capture;
   Kiv::log(TesselNat::tesselNatTcamResourceFull(), key.stringValue());
   ASSERT_EQ(capture.records().size(), 1u);
   EXPECT_EQ(capture.records()[0].name, "TESSEL_NAT_TCAM_RESOURCE_FULL");
   EXPECT_EQ(capture.records()[0].severity, Kiv::LogSeverity::error);
   EXPECT_EQ(capture.records()[0].text,
             "Hardware resources are insufficient to add NAT rule with key <type: staticSrcNat "
             "proto: 0 faId: 0 aclId: 0>");
}

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

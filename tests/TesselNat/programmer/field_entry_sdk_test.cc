#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/programmer_fixture.h"

namespace {

using NatTest::DataFields;
using NatTest::natData;

// How writing a field entry stops on a broken invariant or an SDK failure, and under which
// operation its calls are traced.
class FieldEntrySdkTest : public NatTest::ProgrammerFixture {
protected:
   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = newProgrammer();
};

TEST_F(FieldEntrySdkTest, BrokenInvariantsStopWithTheirAssertion) {
   const U32 id = natEntryManager->getEntry(module, "NAT");
   const auto program = [&](const Ember::NatHwKey& key, const DataFields& data0, U16 vlanId) {
      programmer->doProgramEntry(id, false, false, key, natData({}), key, natData(data0), vlanId,
                                 7);
   };
   expectAssertion("vlanId", [&] { program(NatTest::staticDestNapt(), {}, 0); });
   Ember::NatHwKey unsupported = NatTest::twiceSrcNapt();
   unsupported.typeIs(static_cast<Ember::NatKeyType>(7));
   expectAssertion("0 && \"Unsupported NAT configuration\"", [&] { program(unsupported, {}, 0); });
   expectAssertion("shadowData0.vlanId( 0 )",
                   [&] { program(NatTest::dynamicDest(), {.vlans = {}}, 10); });
   Ember::NatHwKey contradictory = NatTest::staticSrcNapt();
   contradictory.dynProtoIs(6);
   expectAssertion("result == compVal && \"NatHwKey is not valid\"",
                   [&] { program(contradictory, {}, 0); });
}

TEST_F(FieldEntrySdkTest, SdkFailureWritesTheFailureLineAndNamesTheOperation) {
   const U32 id = natEntryManager->getEntry(module, "NAT");
   Shim::sdk_.faultInjector().failNthCallIs(Shim::Operation::actionAdd, 1, -25);
   testing::internal::CaptureStderr();
   const Ember::NatHwKey key = NatTest::staticSrcNapt();
   try {
      programmer->doProgramEntry(id, false, false, key, natData({}), key, natData({}), 0, 7);
      ADD_FAILURE() << "no assertion";
   } catch (const Kiv::AssertionFailure& failure) {
      EXPECT_EQ(failure.expression(), "0");
      EXPECT_EQ(failure.function(),
                "void Tessel::NatSlaveProgrammerSm::doProgramEntry(U32, bool, bool, const "
                "Ember::NatHwKey&, const Ember::NatHwData&, const Ember::NatHwKey&, const "
                "Ember::NatHwData&, U16, U32)");
   }
   const std::string stderrText = testing::internal::GetCapturedStderr();
   EXPECT_THAT(stderrText,
               testing::MatchesRegex(".*static_nat_entry\\.cc:[0-9]+ bcm_field_action_add\\( "
                                     "unit\\(\\), entryId, bcmFieldActionAssignExtractionCtrlId, "
                                     "extractionCtrlId, 0x1f \\) API ERROR:" +
                                     std::string(Shim::sdk_.bcm_errmsg(-25)) + " \\(-25\\)\n"));
}

TEST_F(FieldEntrySdkTest, SuccessfulCallsAreTracedUnderTheWritingOperation) {
   const U32 dynamicId = natEntryManager->getEntry(module, "NAT");
   const Ember::NatHwKey flow = NatTest::dynamicSrc();
   programmer->doProgramEntry(dynamicId, false, false, flow, natData({}), flow, natData({}), 0, 7);
   const U32 staticId = natEntryManager->getEntry(module, "NAT");
   sdkCallsClear();
   const Ember::NatHwKey key = NatTest::staticSrcNapt();
   programmer->doProgramEntry(staticId, false, false, key, natData({}), key, natData({}), 0, 7);
   std::set<std::string> functions;
   for (const Kiv::CapturedTrace& trace : traces_.messages()) {
      if (trace.facility == "ApiTessel" && trace.level == 4) functions.insert(trace.function);
   }
   EXPECT_EQ(functions, (std::set<std::string>{"doProgramDynamicNatEntry", "doProgramEntry",
                                               "getEntry", "installEntry"}));
   const auto& messages = traces_.messages();
   const auto first = std::find_if(messages.begin(), messages.end(),
                                   [](const auto& trace) { return trace.facility == "ApiTessel"; });
   ASSERT_NE(first, messages.end());
   EXPECT_THAT(first->text, testing::EndsWith(" (rc:0)"));
}

using FieldEntrySdkDeathTest = FieldEntrySdkTest;

TEST_F(FieldEntrySdkDeathTest, SdkFailureStopsTheAgent) {
   Kiv::assertionHandlerIs(nullptr);
   const U32 id = natEntryManager->getEntry(module, "NAT");
   Shim::sdk_.faultInjector().failNthCallIs(Shim::Operation::qualifySrcIp, 1, -23);
   const Ember::NatHwKey key = NatTest::dynamicSrc();
   EXPECT_DEATH(programmer->doProgramDynamicNatEntry(id, false, false, key, natData({}), key,
                                                     natData({}), 7),
                "dynamic_nat_entry.cc:[0-9]+ bcm_field_qualify_SrcIp\\( unit\\(\\), entryId, "
                "hwKey.srcIpAndPortOld\\(\\).ip\\(\\).value\\(\\), -1 \\) API ERROR:.* \\(-23\\)");
}

}  // namespace

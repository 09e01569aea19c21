#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/programmer_fixture.h"

namespace {

using NatTest::DataFields;
using NatTest::natData;

// How writing a field entry stops on a broken invariant, and under which operation its calls
// are traced. (An SDK failure at each call site: sdk_failure_death_test.cc.)
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

}  // namespace

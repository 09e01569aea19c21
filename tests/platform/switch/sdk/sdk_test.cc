#include "platform/switch/sdk/sdk.h"

#include <gtest/gtest.h>

#include "platform/switch/sdk/fault_injector.h"
#include "platform/switch/sdk/return_code.h"
#include "tests/platform/switch/sdk/sdk_fixture.h"

namespace ShimTest {
namespace {

using SdkTest = SdkFixture;

TEST_F(SdkTest, CallWithoutABackendIsFatal) {
   Shim::SdkBackend* previous = Shim::sdk_.backendIs(nullptr);
   EXPECT_THROW(Shim::sdk_.bcm_field_entry_install(0, 1), Kiv::AssertionFailure);
   Shim::sdk_.backendIs(previous);
}

// The plug-in knows SDK values only through the accessors: the chip must take each of them.
TEST_F(SdkTest, ChipAcceptsEveryFieldConstantTheShimHandsOut) {
   const Shim::Sdk& sdk = Shim::sdk_;
   ASSERT_EQ(chip_.bcm_field_entry_create_at(0, 1, 1, 0), sdk.BCM_E_NONE());
   const S32 actions[] = {sdk.bcmFieldActionAssignExtractionCtrlId(),
                          sdk.bcmFieldActionAssignOpaqueObject1(),
                          sdk.bcmFieldActionCopyToCpuCancel(),
                          sdk.bcmFieldActionDrop(),
                          sdk.bcmFieldActionDropCancel(),
                          sdk.bcmFieldActionL3Switch()};
   for (S32 action : actions) {
      EXPECT_EQ(Shim::sdk_.bcm_field_action_add(0, 1, action, 0, 0), sdk.BCM_E_NONE()) << action;
   }
   EXPECT_EQ(chip_.entry(0, 1)->actions().items().size(), 6u);
   EXPECT_EQ(Shim::sdk_.bcm_field_qualify_IpFrag(0, 1, sdk.bcmFieldIpFragAny()), sdk.BCM_E_NONE());
}

using Shim::Operation;

class FaultInjectorTest : public SdkFixture {
protected:
   S32 create(U32 entry) { return Shim::sdk_.bcm_field_entry_create_at(0, 1, entry, entry); }

   Shim::FaultInjector& faults = Shim::sdk_.faultInjector();
   const S32 full = Shim::code(Shim::SdkError::tableFull);
};

TEST_F(FaultInjectorTest, NthCallCountedFromTheSettingFailsOnceWithoutReachingTheChip) {
   EXPECT_EQ(create(1), Shim::successCode);
   faults.failNthCallIs(Operation::entryCreate, 2, full);
   EXPECT_EQ(create(2), Shim::successCode);
   EXPECT_EQ(create(3), full);
   EXPECT_EQ(create(4), Shim::successCode);
   EXPECT_FALSE(chip_.entry(0, 3));
   EXPECT_EQ(chip_.entryCount(0), 3u);
}

TEST_F(FaultInjectorTest, EveryCallFailsUntilTheFaultIsRemoved) {
   faults.failEveryCallIs(Operation::entryCreate, full);
   EXPECT_EQ(create(1), full);
   EXPECT_EQ(create(2), full);
   EXPECT_EQ(Shim::sdk_.bcm_field_entry_install(0, 1), Shim::code(Shim::SdkError::notFound))
       << "another operation is not affected";
   faults.faultDel(Operation::entryCreate);
   EXPECT_EQ(create(3), Shim::successCode);
}

TEST_F(FaultInjectorTest, OnlyFailureCodesCanBeInjected) {
   EXPECT_THROW(faults.failEveryCallIs(Operation::regGet, Shim::successCode),
                Kiv::AssertionFailure);
   EXPECT_THROW(faults.failNthCallIs(Operation::regGet, 0, full), Kiv::AssertionFailure);
}

}  // namespace
}  // namespace ShimTest

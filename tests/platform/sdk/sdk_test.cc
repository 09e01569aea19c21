#include "platform/sdk/sdk.h"

#include <gtest/gtest.h>

#include "tests/platform/sdk/sdk_fixture.h"

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

}  // namespace
}  // namespace ShimTest

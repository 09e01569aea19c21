#include "platform/sdk/fault_injector.h"

#include <gtest/gtest.h>

#include "platform/sdk/return_code.h"
#include "tests/platform/sdk/sdk_fixture.h"

namespace ShimTest {
namespace {

using Shim::Operation;

class FaultInjectorTest : public SdkFixture {
protected:
   S32 create(U32 entry) { return Shim::sdk_.bcm_field_entry_create_at(0, 1, entry, entry); }

   Shim::FaultInjector& faults = Shim::sdk_.faultInjector();
   const S32 full = Shim::code(Shim::SdkError::tableFull);
};

TEST_F(FaultInjectorTest, NthCallFailsOnceWithoutReachingTheChip) {
   faults.failNthCallIs(Operation::entryCreate, 2, full);
   EXPECT_EQ(create(1), Shim::successCode);
   EXPECT_EQ(create(2), full);
   EXPECT_EQ(create(3), Shim::successCode);
   EXPECT_EQ(create(4), Shim::successCode);
   EXPECT_FALSE(chip_.entry(0, 2));
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

TEST_F(FaultInjectorTest, CallsAreCountedFromWhenTheFaultIsSet) {
   EXPECT_EQ(create(1), Shim::successCode);
   faults.failNthCallIs(Operation::entryCreate, 1, full);
   EXPECT_EQ(create(2), full);
}

TEST_F(FaultInjectorTest, OnlyFailureCodesCanBeInjected) {
   EXPECT_THROW(faults.failEveryCallIs(Operation::regGet, Shim::successCode),
                Kiv::AssertionFailure);
   EXPECT_THROW(faults.failNthCallIs(Operation::regGet, 0, full), Kiv::AssertionFailure);
}

}  // namespace
}  // namespace ShimTest

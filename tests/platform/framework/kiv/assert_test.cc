#include "platform/framework/kiv/assert.h"

#include <gtest/gtest.h>

namespace {

struct Programmer {
   virtual ~Programmer() = default;
   virtual void handleInitialized(int vlanId) { KIV_ASSERT( vlanId ); }
};

class AssertTest : public ::testing::Test {
protected:
   void SetUp() override { previous = Kiv::assertionHandlerIs(&Kiv::throwingAssertionHandler); }
   void TearDown() override { Kiv::assertionHandlerIs(previous); }
   Kiv::AssertionHandler previous = nullptr;
};

TEST_F(AssertTest, CarriesExpressionTextAndFullSignature) {
   Programmer programmer;
   try {
      programmer.handleInitialized(0);
      FAIL() << "no assertion";
   } catch (const Kiv::AssertionFailure& failure) {
      EXPECT_EQ(failure.expression(), "vlanId");
      EXPECT_EQ(failure.function(), "virtual void {anonymous}::Programmer::handleInitialized(int)");
   }
   EXPECT_NO_THROW(programmer.handleInitialized(10));
}

using AssertDeathTest = AssertTest;

TEST_F(AssertDeathTest, DefaultHandlerWritesOneLineAndStops) {
   Kiv::assertionHandlerIs(nullptr);
   Programmer programmer;
   EXPECT_DEATH(programmer.handleInitialized(0),
                "assert_test.cc:[0-9]+: virtual void \\{anonymous\\}::Programmer::"
                "handleInitialized\\(int\\): Assertion `vlanId' failed.");
}

}  // namespace

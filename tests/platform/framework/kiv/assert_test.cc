#include "platform/framework/kiv/assert.h"

#include <gtest/gtest.h>

namespace {

struct Programmer {
   virtual ~Programmer() = default;
   virtual void handleInitialized(int vlanId) { KIV_ASSERT( vlanId ); }
};

// The line an operator finds in the agent's log: file and line, full signature, expression.
TEST(AssertDeathTest, DefaultHandlerWritesOneLineAndStops) {
   Kiv::AssertionHandler previous = Kiv::assertionHandlerIs(nullptr);
   Programmer programmer;
   EXPECT_DEATH(programmer.handleInitialized(0),
                "assert_test.cc:[0-9]+: virtual void \\{anonymous\\}::Programmer::"
                "handleInitialized\\(int\\): Assertion `vlanId' failed.");
   Kiv::assertionHandlerIs(previous);
}

}  // namespace

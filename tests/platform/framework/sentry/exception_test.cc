#include "platform/framework/sentry/exception.h"

#include <gtest/gtest.h>

namespace {

TEST(DumpHexTest, TwoLowercaseDigitsPerByteSeparatedByBlanks) {
   const unsigned char bytes[] = {0x00, 0x0a, 0xff, 0x10};
   EXPECT_EQ(Sentry::dumpHex(bytes, sizeof bytes), "00 0a ff 10");
   EXPECT_EQ(Sentry::dumpHex(bytes, 0), "");
}

}  // namespace

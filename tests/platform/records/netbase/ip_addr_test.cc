#include "platform/records/netbase/ip_addr.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/framework/kiv/errors.h"
#include "platform/records/netbase/ip_and_port.h"

namespace {

using Netbase::IpAddr;
using Netbase::IpAndPort;

TEST(IpAddrTest, HoldsNetworkOrderGivesHostOrderAndOrdersNumerically) {
   const IpAddr fromText("10.1.2.3");
   EXPECT_EQ(fromText, IpAddr(0x0A010203u));
   unsigned char bytes[4];
   std::memcpy(bytes, &fromText, sizeof(bytes));
   EXPECT_EQ(bytes[0], 10);
   EXPECT_EQ(bytes[3], 3);
   // In network order 10.0.0.0 and 9.255.0.0 compare the other way round.
   EXPECT_LT(IpAddr("9.255.0.0"), IpAddr("10.0.0.0"));
   EXPECT_LT(IpAndPort(IpAddr("9.255.0.0"), 80), IpAndPort(IpAddr("10.0.0.0"), 1));
}

TEST(IpAddrTest, RefusesNonDottedText) {
   for (const char* bad : {"", "10.1.2", "10.1.2.256", "host", "10.1.2.3 "}) {
      EXPECT_THROW(IpAddr{bad}, Kiv::RangeException) << bad;
   }
}

}  // namespace

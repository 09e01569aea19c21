#include "platform/records/ember/nat_hw_key.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/framework/kiv/assert.h"

namespace {

using Ember::NatAclId;
using Ember::NatHwKey;
using Ember::NatKeyType;
using Netbase::IpAddr;
using Netbase::IpAndPort;

const IpAndPort a(IpAddr("10.0.0.1"), 0);
const IpAndPort b(IpAddr("20.0.0.2"), 0);
const IpAndPort aPort(IpAddr("10.0.0.1"), 1000);
const IpAndPort bPort(IpAddr("20.0.0.2"), 2000);
const IpAndPort none;

NatHwKey keyOf(U32 type, IpAndPort srcOld, IpAndPort srcNew, IpAndPort dstOld, IpAndPort dstNew,
               U8 dynProto = 0) {
   return NatHwKey(static_cast<NatKeyType>(type), srcOld, srcNew, dstOld, dstNew, NatAclId(),
                   dynProto, 0);
}

TEST(NatHwKeyTest, PredicatesOfConsistentKeys) {
   const struct {
      const char* name;
      NatHwKey key;
      bool staticSrcNat;
      bool staticDestNat;
      bool staticNapt;
      bool twiceNapt;
   } cases[] = {
       {"src nat", keyOf(1, a, b, none, none), true, false, false, false},
       {"src napt", keyOf(1, a, bPort, none, none), true, false, true, false},
       {"dest nat", keyOf(2, none, none, a, b), false, true, false, false},
       {"dest napt", keyOf(2, none, none, a, bPort), false, true, true, false},
       {"twice, all set", keyOf(3, a, b, a, b), false, false, false, false},
       {"twice napt src", keyOf(3, aPort, bPort, a, b), false, false, false, true},
       {"twice napt dst", keyOf(4, a, b, aPort, bPort), false, false, false, true},
       {"twice, new port only", keyOf(4, a, bPort, a, b), false, false, false, false},
       {"dynamic", keyOf(5, a, b, none, none, 6), false, false, false, false},
   };
   for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(c.key.isStaticSrcNat(), c.staticSrcNat);
      EXPECT_EQ(c.key.isStaticDestNat(), c.staticDestNat);
      EXPECT_EQ(c.key.isStaticNapt(), c.staticNapt);
      EXPECT_EQ(c.key.isTwiceNapt(), c.twiceNapt);
   }
}

TEST(NatHwKeyTest, KeyDisagreeingWithItsTypeStopsTheAgent) {
   const Kiv::AssertionHandler previous = Kiv::assertionHandlerIs(&Kiv::throwingAssertionHandler);
   const struct {
      const char* name;
      NatHwKey key;
      bool (NatHwKey::*predicate)() const;
   } cases[] = {
       {"src nat with dynProto", keyOf(1, a, b, none, none, 17), &NatHwKey::isStaticSrcNat},
       {"src nat missing new src", keyOf(1, a, none, none, none), &NatHwKey::isStaticSrcNat},
       {"src pairs under dest type", keyOf(2, a, b, none, none), &NatHwKey::isStaticSrcNat},
       {"dest nat missing new dst", keyOf(2, none, none, a, none), &NatHwKey::isStaticDestNat},
       {"dest pairs under src type", keyOf(1, none, none, a, b), &NatHwKey::isStaticDestNat},
       {"napt of bad src key", keyOf(1, a, b, a, none), &NatHwKey::isStaticNapt},
   };
   for (const auto& c : cases) {
      EXPECT_THAT([&] { (c.key.*c.predicate)(); },
                  testing::Throws<Kiv::AssertionFailure>(testing::Property(
                      &Kiv::AssertionFailure::expression,
                      testing::StrEq("result == compVal && \"NatHwKey is not valid\""))))
          << c.name;
   }
   Kiv::assertionHandlerIs(previous);
}

TEST(NatHwKeyTest, StringValueNamesOnlyTheSetAddresses) {
   EXPECT_EQ(NatHwKey().stringValue(), "type: unknown(0) proto: 0 faId: 0 aclId: 0");
   const NatHwKey full(NatKeyType::twiceDestNat, IpAndPort(IpAddr("1.2.3.4"), 10), b,
                       IpAndPort(IpAddr("255.255.255.255"), 65535), IpAndPort(IpAddr(), 7),
                       NatAclId(4000000000u), 255, 4294967295u);
   EXPECT_EQ(full.stringValue(),
             "type: twiceDestNat old sip: 1.2.3.4:10 new sip: 20.0.0.2:0 old dip: "
             "255.255.255.255:65535 new dip: 0.0.0.0:7 proto: 255 faId: 4294967295 "
             "aclId: 4000000000");
   EXPECT_EQ(NatHwKey().typeIs(NatKeyType::staticSrcNat).dstIpAndPortNewIs(a).stringValue(),
             "type: staticSrcNat new dip: 10.0.0.1:0 proto: 0 faId: 0 aclId: 0");
}

}  // namespace

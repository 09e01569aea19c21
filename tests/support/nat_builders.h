#pragma once

#include <initializer_list>
#include <vector>

#include "platform/records/ember/nat_hw_data.h"
#include "platform/records/ember/nat_hw_key.h"
#include "platform/records/netbase/ip_addr_with_full_mask.h"
#include "platform/records/netbase/ip_and_port.h"

// Builders of NAT keys and data for tests, so that a case reads as the rule it describes.
namespace NatTest {

inline Netbase::IpAndPort ep(const char* ip, U16 port = 0) {
   return Netbase::IpAndPort(Netbase::IpAddr(ip), port);
}

struct KeyFields {
   Ember::NatKeyType type{};
   Netbase::IpAndPort srcOld{};
   Netbase::IpAndPort srcNew{};
   Netbase::IpAndPort dstOld{};
   Netbase::IpAndPort dstNew{};
   U8 dynProto = 0;
   U32 faId = 0;
};

inline Ember::NatHwKey natKey(const KeyFields& fields) {
   return Ember::NatHwKey(fields.type, fields.srcOld, fields.srcNew, fields.dstOld, fields.dstNew,
                          Ember::NatAclId(1), fields.dynProto, fields.faId);
}

struct DataFields {
   U8 protocol = 0;
   U64 nextHop = ~U64{0};
   std::vector<U16> vlans{};
   U32 faIdLimit = 1;
   Netbase::IpAddrWithFullMask filter{};

   friend bool operator==(const DataFields&, const DataFields&) = default;
};

inline Ember::NatHwData natData(const DataFields& fields) {
   Ember::NatHwData data(fields.protocol, fields.filter, fields.faIdLimit, fields.nextHop);
   data.vlanIdsIs(static_cast<U32>(fields.vlans.size()), fields.vlans);
   return data;
}

// One key of each type, ports translated where the type allows.
inline Ember::NatHwKey staticSrcNapt() {
   return natKey({Ember::NatKeyType::staticSrcNat, ep("10.0.0.1", 80), ep("192.0.2.1", 8080)});
}
inline Ember::NatHwKey staticDestNapt() {
   return natKey(
       {Ember::NatKeyType::staticDestNat, {}, {}, ep("203.0.113.5", 80), ep("10.0.0.5", 8080)});
}
inline Ember::NatHwKey twiceSrcNapt() {
   return natKey({Ember::NatKeyType::twiceSrcNat, ep("10.0.0.1", 1000), ep("192.0.2.1", 2000),
                  ep("198.51.100.7", 53), ep("198.51.100.8", 5353)});
}
inline Ember::NatHwKey twiceDestNapt() {
   return natKey({Ember::NatKeyType::twiceDestNat, ep("198.51.100.7", 1000),
                  ep("198.51.100.9", 1001), ep("203.0.113.5", 80), ep("10.0.0.5", 8080)});
}
inline Ember::NatHwKey dynamicSrc(U8 proto = 17) {
   return natKey({Ember::NatKeyType::dynamicSrcNat, ep("10.0.0.1", 1000), ep("192.0.2.1", 3000),
                  ep("8.8.8.8", 53), ep("8.8.8.8", 53), proto});
}
inline Ember::NatHwKey dynamicDest(U8 proto = 17) {
   return natKey({Ember::NatKeyType::dynamicDestNat, ep("8.8.8.8", 53), ep("8.8.8.8", 53),
                  ep("192.0.2.1", 3000), ep("10.0.0.1", 1000), proto});
}

}  // namespace NatTest

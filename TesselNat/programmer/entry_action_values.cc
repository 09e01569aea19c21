#include "TesselNat/programmer/entry_action_values.h"

#include "TesselNat/programmer/nat_entry_constants.h"

namespace Tessel {
namespace {

struct ExtractionCtrl {
   U32 frag;
   U32 defaultWithPort;
   U32 defaultWithoutPort;
   // The translated port that decides between the two default ids; null for dynamic keys,
   // whose default id does not depend on a port.
   Netbase::IpAndPort (Ember::NatHwKey::*decidingPair)() const;
};

ExtractionCtrl extractionCtrlOf(Ember::NatKeyType type) {
   using Ember::NatHwKey;
   switch (type) {
      case Ember::NatKeyType::staticSrcNat:
         return {20, 21, 20, &NatHwKey::srcIpAndPortNew};
      case Ember::NatKeyType::twiceSrcNat:
         return {22, 23, 22, &NatHwKey::dstIpAndPortNew};
      case Ember::NatKeyType::staticDestNat:
         return {16, 17, 16, &NatHwKey::dstIpAndPortNew};
      case Ember::NatKeyType::twiceDestNat:
         return {18, 19, 18, &NatHwKey::srcIpAndPortNew};
      case Ember::NatKeyType::dynamicSrcNat:
         return {20, 21, 21, nullptr};
      case Ember::NatKeyType::dynamicDestNat:
         return {16, 17, 17, nullptr};
   }
   return {0, 0, 0, nullptr};
}

}  // namespace

U32 extractionCtrlId(const Ember::NatHwKey& hwKey, bool frag) {
   const ExtractionCtrl ids = extractionCtrlOf(hwKey.type());
   if (frag) return ids.frag;
   if (!ids.decidingPair) return ids.defaultWithPort;
   return (hwKey.*ids.decidingPair)().port() != 0 ? ids.defaultWithPort : ids.defaultWithoutPort;
}

U32 nextHopId(U64 nextHop, const Ember::NatHwData& shadowData0) {
   const auto base = static_cast<U32>(shadowData0.nextHop());
   if (nextHop & nextHopMultipathFlag) return (base & 0xF7FFFFFF) + 200000;
   return base + 100000;
}

}  // namespace Tessel

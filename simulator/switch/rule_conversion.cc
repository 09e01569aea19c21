#include "simulator/switch/rule_conversion.h"

#include "TesselNat/programmer/nat_entry_constants.h"

namespace Simulator {
namespace {

Ember::NatKeyType natKeyTypeOf(RuleType type) {
   switch (type) {
      case RuleType::staticSrcNat:
         return Ember::NatKeyType::staticSrcNat;
      case RuleType::staticDestNat:
         return Ember::NatKeyType::staticDestNat;
      case RuleType::twiceSrcNat:
         return Ember::NatKeyType::twiceSrcNat;
      case RuleType::twiceDestNat:
         return Ember::NatKeyType::twiceDestNat;
      case RuleType::dynamicSrcNat:
         return Ember::NatKeyType::dynamicSrcNat;
      case RuleType::dynamicDestNat:
         break;
   }
   return Ember::NatKeyType::dynamicDestNat;
}

Netbase::IpAndPort ipAndPortOf(const std::optional<Endpoint>& endpoint) {
   if (!endpoint) return {};
   return Netbase::IpAndPort(Netbase::IpAddr(endpoint->ip), endpoint->port);
}

Netbase::IpAddrWithFullMask filterOf(const Prefix& prefix) {
   const U32 mask = prefix.length == 0 ? 0 : ~U32{0} << (32 - prefix.length);
   return Netbase::IpAddrWithFullMask(Netbase::IpAddr(prefix.address), mask);
}

Ember::NatHwData dataOf(const Rule& rule, const KeyOverride& key) {
   const U64 nextHop = rule.nextHop == nextHopNone ? Tessel::nextHopUnchanged : rule.nextHop;
   Ember::NatHwData data(key.protocol.value_or(rule.protocol),
                         filterOf(key.filter.value_or(rule.filter)),
                         static_cast<U32>(rule.keys.size()), nextHop);
   data.vlanIdsIs(static_cast<U32>(rule.vlans.size()), rule.vlans);
   return data;
}

bool isDestination(RuleType type) {
   return type == RuleType::staticDestNat || type == RuleType::twiceDestNat ||
          type == RuleType::dynamicDestNat;
}

}  // namespace

ControlPlane::NatRule natRuleOf(const Rule& rule) {
   ControlPlane::NatRule natRule;
   natRule.uid = TesselNat::Uid(rule.uid);
   natRule.hwKey0 =
       Ember::NatHwKey(natKeyTypeOf(rule.type), ipAndPortOf(rule.src), ipAndPortOf(rule.srcNew),
                       ipAndPortOf(rule.dst), ipAndPortOf(rule.dstNew), Ember::NatAclId(rule.aclId),
                       rule.dynProto, 0);
   natRule.data = dataOf(rule, rule.keys.front());
   for (std::size_t i = 1; i < rule.keys.size(); ++i) {
      natRule.keyData.push_back(dataOf(rule, rule.keys[i]));
   }
   for (uint16_t module : rule.modules) natRule.modules.emplace_back(module);
   return natRule;
}

::Chip::Packet chipPacketOf(const Packet& packet) {
   static constexpr ::Chip::FragmentState fragments[] = {::Chip::FragmentState::notFragment,
                                                         ::Chip::FragmentState::firstFragment,
                                                         ::Chip::FragmentState::nonFirstFragment};
   return ::Chip::Packet{.l3Ingress = packet.vlan,
                         .srcIp = packet.src.ip,
                         .dstIp = packet.dst.ip,
                         .srcPort = packet.src.port,
                         .dstPort = packet.dst.port,
                         .ipProtocol = packet.proto,
                         .fragment = fragments[static_cast<int>(packet.fragment)],
                         .tcpFlags = packet.tcpFlags};
}

Packet packetFor(const Rule& rule, uint16_t module, uint16_t vlan) {
   constexpr uint8_t tcp = 6;
   Packet packet;
   packet.module = module;
   packet.vlan = isDestination(rule.type) ? vlan : (vlan == 0 ? 1 : vlan);
   packet.proto = rule.dynProto != 0 ? rule.dynProto : (rule.protocol != 0 ? rule.protocol : tcp);
   packet.src = rule.src.value_or(Endpoint{rule.filter.address, 40000});
   packet.dst = rule.dst.value_or(Endpoint{rule.filter.address, 40000});
   if (packet.src.port == 0) packet.src.port = 40000;
   if (packet.dst.port == 0) packet.dst.port = 40000;
   return packet;
}

}  // namespace Simulator

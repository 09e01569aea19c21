#include "simulator/switch/soak_rules.h"

#include "simulator/switch/rule_generator.h"

namespace Simulator {
namespace {

// A host rule matches every packet of its inside host; its flow rule matches one of them.
void overlappingIs(Rule& rule) {
   const uint16_t host = isSoakHostRule(rule.uid) ? rule.uid : rule.uid - 1;
   const Endpoint inside{0x0A640000u | host, 0};
   rule.filter = Prefix{};
   rule.vlans.clear();
   rule.keys.resize(1);
   if (isSoakHostRule(rule.uid)) {
      rule.type = RuleType::staticSrcNat;
      rule.src = inside;
      rule.srcNew = Endpoint{0xC6330000u | host, 0};
      rule.dst = rule.dstNew = std::nullopt;
      rule.protocol = rule.dynProto = 0;
      return;
   }
   rule.type = RuleType::dynamicSrcNat;
   rule.src = Endpoint{inside.ip, 5000};
   rule.srcNew = Endpoint{0xC6330000u | host, 7000};
   rule.dst = rule.dstNew = Endpoint{0x08080808u, 53};
   rule.dynProto = 17;
   rule.protocol = 0;
}

}  // namespace

Rule soakRuleFor(uint16_t uid, std::mt19937_64& random) {
   const auto below = [&random](uint32_t n) {
      return std::uniform_int_distribution<uint32_t>(0, n - 1)(random);
   };
   Generate generate;
   generate.seed = uid;
   generate.uids = {uid};
   // A rule's modules never change (that takes a delete and an add).
   generate.modules = {1, 2};
   if (uid % 2 == 1) generate.modules.push_back(soakSpareModule);
   Rule rule = generatedRules(generate).front();
   if (!rule.vlans.empty()) {
      rule.vlans.clear();
      for (uint16_t vlan : {10, 20, 30, 40}) {
         if (below(2) == 0) rule.vlans.push_back(vlan);
      }
      if (rule.vlans.empty()) rule.vlans.push_back(10);
   }
   rule.keys.assign(1 + below(3), KeyOverride{});
   rule.nextHop = below(3) == 0 ? nextHopNone : below(50);
   if (isSoakHostRule(uid) || isSoakFlowRule(uid)) overlappingIs(rule);
   return rule;
}

}  // namespace Simulator

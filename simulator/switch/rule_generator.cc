#include "simulator/switch/rule_generator.h"

#include <algorithm>
#include <random>

namespace Simulator {
namespace {

// Inside and outside addresses unique to a uid.
uint32_t insideAddress(uint16_t uid) { return 0x64400000u | (uint32_t{uid} << 4) | 1; }
uint32_t outsideAddress(uint16_t uid) { return 0xC6120000u | uid; }

class Generator {
public:
   explicit Generator(uint64_t seed) : random_(seed) {}

   // A rule of one of `types` (every type when empty), on 1 to `maxVlans` VLANs when it is a
   // destination rule.
   Rule rule(uint16_t uid, const std::vector<uint16_t>& modules,
             const std::vector<RuleType>& types, uint32_t maxVlans) {
      Rule rule;
      rule.uid = uid;
      rule.modules = modules;
      rule.keys.resize(1);
      // Drawn again until allowed, so that with every type allowed the draws, and the rules
      // of a seed, stay the same.
      uint32_t kind = 0;
      bool destination = false;
      do {
         kind = below(8);
         destination = below(2) == 0;
      } while (!types.empty() &&
               std::find(types.begin(), types.end(), typeOf(kind, destination)) == types.end());
      const bool ports = below(2) == 0;
      const Endpoint inside{insideAddress(uid), port(ports)};
      const Endpoint outside{outsideAddress(uid), port(ports)};
      if (kind < 4) {
         rule.type = destination ? RuleType::staticDestNat : RuleType::staticSrcNat;
         if (below(4) == 0) rule.filter = Prefix{0x0A000000u | (below(256) << 16), 16};
         if (below(2) == 0) rule.protocol = ports ? 6 : 17;
         // Destination NAT maps an outside address inwards, source NAT an inside one out.
         (destination ? rule.dst : rule.src) = destination ? outside : inside;
         (destination ? rule.dstNew : rule.srcNew) = destination ? inside : outside;
      } else if (kind < 6) {
         rule.type = destination ? RuleType::twiceDestNat : RuleType::twiceSrcNat;
         rule.src = inside;
         rule.srcNew = Endpoint{inside.ip + 1, inside.port};
         rule.dst = outside;
         rule.dstNew = Endpoint{outside.ip ^ 0x00010000u, outside.port};
      } else {
         rule.type = destination ? RuleType::dynamicDestNat : RuleType::dynamicSrcNat;
         rule.dynProto = below(2) == 0 ? 6 : 17;
         // A flow between an inside host and a remote server, seen from either end.
         const Endpoint server{0x08080808u, 53};
         const Endpoint host{inside.ip, port(true)};
         const Endpoint mapped{outside.ip, port(true)};
         (destination ? rule.src : rule.dst) = server;
         (destination ? rule.srcNew : rule.dstNew) = server;
         (destination ? rule.dst : rule.src) = destination ? mapped : host;
         (destination ? rule.dstNew : rule.srcNew) = destination ? host : mapped;
      }
      if (destination) {
         const uint32_t vlans = 1 + below(maxVlans);
         for (uint32_t i = 0; i < vlans; ++i)
            rule.vlans.push_back(static_cast<uint16_t>(10 + i * 10));
      }
      rule.nextHop = below(4) == 0 ? nextHopNone : 1 + below(100);
      return rule;
   }

private:
   static RuleType typeOf(uint32_t kind, bool destination) {
      if (kind < 4) return destination ? RuleType::staticDestNat : RuleType::staticSrcNat;
      if (kind < 6) return destination ? RuleType::twiceDestNat : RuleType::twiceSrcNat;
      return destination ? RuleType::dynamicDestNat : RuleType::dynamicSrcNat;
   }
   uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(random_); }
   uint16_t port(bool wanted) { return wanted ? static_cast<uint16_t>(1024 + below(60000)) : 0; }

   std::mt19937_64 random_;
};

}  // namespace

std::vector<Rule> generatedRules(const Generate& generate) {
   Generator generator(generate.seed);
   std::vector<Rule> rules;
   rules.reserve(generate.uids.size());
   for (uint16_t uid : generate.uids) {
      rules.push_back(generator.rule(uid, generate.modules, generate.types, generate.vlans));
   }
   return rules;
}

}  // namespace Simulator

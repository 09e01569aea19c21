// Random scenario steps driven into the whole agent on a TCAM small enough to fill. After each
// step the agent settles and must hold exactly the entries its programmers recorded. Once
// every request is answered without failure, each module must have programmed the rules that
// name it (a hitless pass after a warm restart programs every rule on every module), and its
// audit must find the chip as recorded.
// Only steps a scenario file could hold are taken (rule_parser.cc and step_reader.cc decide),
// so every crash is one a user could hit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <set>
#include <vector>

#include "platform/framework/kiv/activity_lock.h"
#include "platform/framework/kiv/event_loop.h"
#include "simulator/scenario/rule_parser.h"
#include "simulator/switch/rule_conversion.h"
#include "simulator/switch/simulated_switch.h"

namespace {

using Simulator::Endpoint;
using Simulator::Rule;
using Simulator::RuleType;

constexpr std::size_t maxSteps = 30;
// Few uids and addresses, so that steps meet the rules and keys of earlier ones.
constexpr uint16_t uids = 6;
constexpr U16 extraModule = 3;

// The input, a byte at a time; zeros once it is used up, so that every input decodes.
class Bytes {
public:
   Bytes(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
   bool empty() const { return at_ == size_; }
   uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }
   template <class T, std::size_t n>
   const T& pick(const T (&values)[n]) {
      return values[next() % n];
   }

private:
   const uint8_t* data_;
   std::size_t size_;
   std::size_t at_ = 0;
};

void require(bool ok) {
   if (!ok) __builtin_trap();
}

bool isStatic(RuleType type) {
   return type == RuleType::staticSrcNat || type == RuleType::staticDestNat;
}
bool isDynamic(RuleType type) {
   return type == RuleType::dynamicSrcNat || type == RuleType::dynamicDestNat;
}
bool isDestination(RuleType type) {
   return type == RuleType::staticDestNat || type == RuleType::twiceDestNat ||
          type == RuleType::dynamicDestNat;
}

Endpoint endpoint(Bytes& in) {
   static constexpr uint16_t ports[] = {0, 80, 443, 8080};
   const uint8_t byte = in.next();
   return Endpoint{0x0A000000u | (1u + byte % 4u), ports[(byte >> 2) % 4]};
}

Simulator::Prefix prefix(Bytes& in) {
   static constexpr uint8_t lengths[] = {0, 8, 24, 32};
   const uint8_t length = in.pick(lengths);
   const uint32_t mask = length == 0 ? 0 : ~uint32_t{0} << (32 - length);
   return Simulator::Prefix{(0x0A000000u | in.next() % 4) & mask, length};
}

// The fields an update cannot change.
Rule keyedRule(Bytes& in, uint16_t uid) {
   static constexpr uint8_t dynProtos[] = {6, 17, 1};
   Rule rule;
   rule.uid = uid;
   rule.type = static_cast<RuleType>(in.next() % 6);
   if (rule.type != RuleType::staticDestNat) {
      rule.src = endpoint(in);
      rule.srcNew = endpoint(in);
   }
   if (rule.type != RuleType::staticSrcNat) {
      rule.dst = endpoint(in);
      rule.dstNew = endpoint(in);
   }
   if (isDynamic(rule.type)) rule.dynProto = in.pick(dynProtos);
   rule.aclId = in.next() % 2;
   return rule;
}

// The rest: what an update publishes anew (its modules only for a new rule).
void dataIs(Rule& rule, Bytes& in, const std::set<U16>& modules, bool added) {
   static constexpr uint8_t protocols[] = {0, 6, 17};
   static constexpr uint32_t nextHops[] = {Simulator::nextHopNone, Simulator::nextHopDrop, 5};
   static constexpr uint16_t vlans[] = {10, 20, 30, 4094};
   const bool hasFilter = isStatic(rule.type);
   const bool hasProtocol = !isDynamic(rule.type);
   const uint8_t shape = in.next();
   rule.protocol = hasProtocol ? in.pick(protocols) : 0;
   rule.filter = hasFilter ? prefix(in) : Simulator::Prefix{};
   rule.nextHop = in.pick(nextHops);
   rule.vlans.clear();
   if (isDestination(rule.type)) {
      for (std::size_t i = 0; i < std::size(vlans); ++i) {
         if ((shape >> i & 1) != 0) rule.vlans.push_back(vlans[i]);
      }
      if (rule.vlans.empty()) rule.vlans.push_back(in.pick(vlans));
   }
   if (added) {
      rule.modules.clear();
      for (const U16 module : modules) {
         if ((shape >> 4 & (1u << module % 4)) != 0) rule.modules.push_back(module);
      }
      if (rule.modules.empty()) rule.modules.push_back(*modules.begin());
   }
   rule.keys.assign(1 + in.next() % 3, {});
   for (Simulator::KeyOverride& key : rule.keys) {
      const uint8_t overrides = in.next();
      if (hasFilter && (overrides & 1) != 0) key.filter = prefix(in);
      // A key's protocol goes with the rule's own, and is never 0.
      if (rule.protocol != 0 && (overrides & 2) != 0) key.protocol = in.pick(protocols);
      if (key.protocol == 0) key.protocol.reset();
   }
}

// The keys a module must have programmed once every request is answered: those of each rule
// that names it.
std::set<Ember::NatHwKey> keysOf(const std::map<uint16_t, Rule>& rules, U16 module) {
   std::set<Ember::NatHwKey> keys;
   for (const auto& [uid, rule] : rules) {
      if (std::find(rule.modules.begin(), rule.modules.end(), module) == rule.modules.end()) {
         continue;
      }
      Ember::NatHwKey key = Simulator::natRuleOf(rule).hwKey0;
      for (std::size_t i = 0; i < rule.keys.size(); ++i, key.faIdIs(key.faId() + 1)) {
         keys.insert(key);
      }
   }
   return keys;
}

// Every module's programmer records, each once and none 0, exactly the entries the entry
// manager holds for it. Once every request is answered and none failed, each module has
// programmed the keys of the rules that name it, and the audit agrees with the chip.
void checkSettled(Simulator::SimulatedSwitch& simulated, const std::map<uint16_t, Rule>& rules) {
   ControlPlane::NatControlPlane& controlPlane = simulated.controlPlane();
   bool quiet = controlPlane.outstandingRequests() == 0;
   for (uint16_t uid = 1; uid <= uids; ++uid) {
      quiet = quiet && controlPlane.answer(TesselNat::Uid(uid)) != ControlPlane::Answer::failed;
   }
   for (const U16 module : simulated.modules()) {
      const Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = simulated.programmer(module);
      require(programmer != nullptr);
      std::set<Ember::NatHwKey> keys;
      std::set<U32> ids;
      std::size_t count = 0;
      programmer->entryIdTableForEach([&](const Tessel::EntryIdTableEntry& entry) {
         keys.insert(entry.key());
         for (const auto& map : {entry.defaultEntryIdMap(), entry.fragEntryIdMap()}) {
            for (const auto& [vlan, id] : map) {
               ids.insert(id);
               ++count;
            }
         }
      });
      require(count == ids.size() && !ids.contains(0));
      require(simulated.natEntryManager()->entriesHeld(module) == ids);
      if (!quiet) continue;
      const std::set<Ember::NatHwKey> named = keysOf(rules, module);
      require(std::includes(keys.begin(), keys.end(), named.begin(), named.end()));
      require(simulated.audit(module).empty());
   }
}

void doSteps(Bytes& in) {
   const uint8_t chip = in.next();
   Simulator::SimulatedSwitch::Config config{.natEntries = 16u + in.next() % 49u,
                                             .pipes = static_cast<U8>(1 + (chip & 1)),
                                             .copiesPerPipe = static_cast<U8>(1 + (chip >> 1 & 1)),
                                             .modules = {1, 2},
                                             .flashDownloadDone = (chip & 4) == 0};
   Simulator::SimulatedSwitch simulated(config);
   // The rules in use by uid, as the scenario would have them.
   std::map<uint16_t, Rule> rules;
   for (std::size_t step = 0; step < maxSteps && !in.empty(); ++step) {
      const uint8_t op = in.next();
      const uint16_t uid = static_cast<uint16_t>(1 + (op >> 3) % uids);
      const auto rule = rules.find(uid);
      ControlPlane::NatControlPlane& controlPlane = simulated.controlPlane();
      switch (op % 8) {
         case 0:
         case 1: {  // add, or update a rule in use, as a scenario file may
            const bool added = rule == rules.end();
            Rule published = added ? keyedRule(in, uid) : rule->second;
            dataIs(published, in, simulated.modules(), added);
            if (!added && Simulator::droppedMatch(rule->second, published)) continue;
            const bool sharesKeys = std::any_of(rules.begin(), rules.end(), [&](const auto& other) {
               return other.first != uid && !Simulator::changedKeyField(other.second, published);
            });
            if (sharesKeys) continue;
            rules.insert_or_assign(uid, published);
            controlPlane.ruleIs(Simulator::natRuleOf(published));
            break;
         }
         case 2:
            if (rule == rules.end()) continue;
            controlPlane.ruleRemovalIs(TesselNat::Uid(uid));
            rules.erase(rule);
            break;
         case 3:
            if (rule == rules.end()) continue;
            controlPlane.ruleRetryIs(TesselNat::Uid(uid));
            break;
         case 4:
            simulated.doRestart(true);
            break;
         case 5:
            simulated.doFlashDownload();
            break;
         case 6:
            simulated.doRestart(false);
            break;
         case 7:
            // A rule keeps naming a module that left; the module gets it when it comes back.
            if (simulated.modules().contains(extraModule)) {
               simulated.moduleDel(extraModule);
            } else {
               simulated.moduleIs(extraModule);
            }
            break;
      }
      simulated.doSettle();
      checkSettled(simulated, rules);
   }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
   Kiv::ActivityGuard framework(Kiv::activityLock());
   Bytes in(data, size);
   doSteps(in);
   Kiv::eventLoop().workDelAll();
   return 0;
}

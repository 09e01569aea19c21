#include "simulator/scenario/step_reader.h"

#include <algorithm>
#include <bit>
#include <string_view>
#include <utility>

#include "simulator/scenario/rule_parser.h"

namespace Simulator {

namespace {

using Values::fail;
using Values::Fields;
using Values::Json;

constexpr Values::Range ruleCountRange{1, 65535, nullptr};
constexpr Values::Range seedRange{0, UINT64_MAX, "a seed"};
constexpr Values::Range rateRange{1, 1000000, "packets a second"};
constexpr Values::Range sdkCallRange{1, 1000000, "SDK calls"};
// VLANs 10, 20, ... up to 640.
constexpr Values::Range vlansPerRuleRange{1, 64, "a VLAN count"};
constexpr std::size_t maxFlows = 64;
constexpr Values::Range hitCountRange{0, UINT64_MAX, "a hit count"};

// In the order of the names a file gives them by.
constexpr Packet::Fragment fragments[] = {Packet::Fragment::none, Packet::Fragment::first,
                                          Packet::Fragment::later};
constexpr uint8_t tcpFlagBits[] = {Packet::tcpFin, Packet::tcpSyn, Packet::tcpRst,
                                   Packet::tcpAck, Packet::tcpPsh, Packet::tcpUrg};

uint16_t module(const Json& value, const std::string& path) {
   return static_cast<uint16_t>(Values::integer(value, path, Values::moduleRange));
}

}  // namespace

StepReader::StepReader(const std::vector<uint16_t>& modules, const std::vector<Pool>& pools)
    : modules_(modules) {
   std::sort(modules_.begin(), modules_.end());
   usedUids_.fill(0);
   usedUids_[0] = 1;  // Uid 0 names no rule.
   for (const Pool& pool : pools) {
      for (const uint16_t uid : pool.uids) {
         poolUids_[uid] = pool.name;
         usedUids_[uid / 64] |= uint64_t{1} << (uid % 64);
      }
   }
}

Step StepReader::read(const Json& value, std::size_t index) {
   using Reader = Action (StepReader::*)(const Json&, const std::string&);
   static constexpr std::pair<std::string_view, Reader> actions[] = {
       {"add", &StepReader::add},
       {"update", &StepReader::update},
       {"retry", &StepReader::retry},
       {"delete", &StepReader::remove},
       {"show", &StepReader::show},
       {"verify", &StepReader::verify},
       {"packet", &StepReader::packet},
       {"generate", &StepReader::generate},
       {"restart", &StepReader::restart},
       {"flashDownload", &StepReader::trueAction<FlashDownload>},
       {"crash", &StepReader::crash},
       {"addModule", &StepReader::addModule},
       {"removeModule", &StepReader::removeModule},
       {"traffic", &StepReader::traffic},
       {"rules", &StepReader::trueAction<ListRules>},
       {"diff", &StepReader::trueAction<Diff>},
       {"tcam", &StepReader::trueAction<TcamUse>},
       {"sessions", &StepReader::trueAction<ListSessions>},
       {"clearHits", &StepReader::trueAction<ClearHits>},
       {"expectHits", &StepReader::expectHits},
   };
   const std::string path = Values::elementPath("steps", index);
   if (!value.is_object()) fail(path, "expected an object, got " + Values::describe(value));
   if (value.size() != 1) {
      fail(path, "a step has exactly one action, found " + std::to_string(value.size()));
   }
   const auto& [name, body] = *value.get_ref<const Json::object_t&>().begin();
   for (const auto& [action, reader] : actions) {
      if (name == action) {
         return Step{path, (this->*reader)(body, path + "." + name), name, body.dump()};
      }
   }
   fail(path, "unknown action " + Values::quotedName(name));
}

Action StepReader::add(const Json& value, const std::string& path) {
   Rule rule = parseRule(value, path, modules_);
   if (const auto pool = poolUids_.find(rule.uid); pool != poolUids_.end()) {
      fail(path + ".uid", std::to_string(rule.uid) + " is taken by pool \"" + pool->second +
                              "\"'s sessions");
   }
   if (uids_.count(rule.uid) != 0) {
      fail(path + ".uid", std::to_string(rule.uid) + " is already in use");
   }
   // Two uids with the same keys would share their hardware keys. Only the rules whose key
   // fields hash alike are compared, so that a file of n adds is checked in n log n.
   const std::size_t keys = keyFieldsHash(rule);
   for (auto [at, end] = rulesByKeys_.equal_range(keys); at != end; ++at) {
      if (!changedKeyField(*uids_.at(at->second).rule, rule)) {
         fail(path, "the same keys as uid " + std::to_string(at->second));
      }
   }
   rulesByKeys_.emplace(keys, rule.uid);
   use(rule.uid, UidUse{rule, {}});
   return AddRule{std::move(rule)};
}

Action StepReader::update(const Json& value, const std::string& path) {
   Rule rule = parseRule(value, path, modules_);
   const auto found = uids_.find(rule.uid);
   const std::string uid = std::to_string(rule.uid);
   if (found == uids_.end()) fail(path + ".uid", uid + " is not in use");
   // Generated rules are known only to the program that makes them, so none of their fields
   // could be checked here.
   if (!found->second.rule) {
      fail(path + ".uid", uid + " is a generated rule (" + found->second.generatedBy +
                              "); it can only be retried or deleted");
   }
   const Rule& before = *found->second.rule;
   if (const char* changed = changedKeyField(before, rule)) {
      fail(path + "." + changed, "cannot change under uid " + uid + " (delete and add the rule)");
   }
   // A module dropped by an update would never hear of the rule again.
   if (!value.contains("modules")) {
      rule.modules = before.modules;
   } else if (rule.modules != before.modules) {
      fail(path + ".modules", "cannot change under uid " + uid + " (delete and add the rule)");
   }
   if (const std::optional<std::string> dropped = droppedMatch(before, rule)) {
      fail(path + "." + *dropped,
           "cannot be removed under uid " + uid + " (delete and add the rule)");
   }
   found->second.rule = rule;
   return UpdateRule{std::move(rule)};
}

Action StepReader::retry(const Json& value, const std::string& path) {
   return Retry{uidInUse(value, path)};
}

Action StepReader::remove(const Json& value, const std::string& path) {
   const uint16_t uid = uidInUse(value, path);
   if (const std::optional<Rule>& rule = uids_.at(uid).rule) {
      const auto [from, to] = rulesByKeys_.equal_range(keyFieldsHash(*rule));
      rulesByKeys_.erase(
          std::find_if(from, to, [uid](const auto& item) { return item.second == uid; }));
   }
   uids_.erase(uid);
   usedUids_[uid / 64] &= ~(uint64_t{1} << (uid % 64));
   return Delete{uid};
}

Action StepReader::show(const Json& value, const std::string& path) {
   if (!value.is_object()) return Show{moduleInSwitch(value, path)};
   const Fields fields(value, path, {"module", "format"});
   Show show{moduleInSwitch(fields.requiredField("module"), fields.fieldPath("module"))};
   if (const Json* format = fields.field("format")) {
      show.format = static_cast<Show::Format>(Values::choice(
          *format, fields.fieldPath("format"), "a dump format", {"dump", "table", "json"}));
   }
   return show;
}

Action StepReader::verify(const Json& value, const std::string& path) {
   return Verify{moduleInSwitch(value, path)};
}

Action StepReader::packet(const Json& value, const std::string& path) {
   return SendPacket{readPacket(value, path)};
}

Packet StepReader::readPacket(const Json& value, const std::string& path) const {
   const Fields fields(value, path,
                       {"module", "vlan", "proto", "src", "dst", "fragment", "tcpFlags"});
   Packet packet;
   packet.module = moduleInSwitch(fields.requiredField("module"), fields.fieldPath("module"));
   packet.vlan = static_cast<uint16_t>(
       Values::integer(fields.requiredField("vlan"), fields.fieldPath("vlan"), Values::vlanRange));
   packet.proto = static_cast<uint8_t>(Values::integer(
       fields.requiredField("proto"), fields.fieldPath("proto"), Values::protocolRange));
   packet.src = Values::endpoint(fields.requiredField("src"), fields.fieldPath("src"));
   packet.dst = Values::endpoint(fields.requiredField("dst"), fields.fieldPath("dst"));
   if (const Json* fragment = fields.field("fragment")) {
      packet.fragment = fragments[Values::choice(*fragment, fields.fieldPath("fragment"),
                                                 "a fragment kind", {"none", "first", "later"})];
   }
   if (const Json* flags = fields.field("tcpFlags")) {
      const std::string flagsPath = fields.fieldPath("tcpFlags");
      const Json::array_t& items = Values::list(*flags, flagsPath);
      for (std::size_t index = 0; index < items.size(); ++index) {
         const std::string itemPath = Values::elementPath(flagsPath, index);
         const uint8_t bit = tcpFlagBits[Values::choice(
             items[index], itemPath, "a TCP flag", {"fin", "syn", "rst", "ack", "psh", "urg"})];
         if ((packet.tcpFlags & bit) != 0) {
            fail(itemPath, Values::describe(items[index]) + " is listed twice");
         }
         packet.tcpFlags |= bit;
      }
   }
   return packet;
}

Action StepReader::traffic(const Json& value, const std::string& path) {
   const Fields fields(value, path, {"flows", "rate"});
   Traffic traffic;
   const std::string flowsPath = fields.fieldPath("flows");
   const Json::array_t& flows = Values::list(fields.requiredField("flows"), flowsPath);
   if (flows.empty() || flows.size() > maxFlows) {
      fail(flowsPath,
           "1 to " + std::to_string(maxFlows) + " flows, got " + std::to_string(flows.size()));
   }
   for (std::size_t index = 0; index < flows.size(); ++index) {
      traffic.flows.push_back(readPacket(flows[index], Values::elementPath(flowsPath, index)));
   }
   if (const Json* rate = fields.field("rate")) {
      traffic.rate =
          static_cast<uint32_t>(Values::integer(*rate, fields.fieldPath("rate"), rateRange));
   }
   return traffic;
}

Action StepReader::generate(const Json& value, const std::string& path) {
   const Fields fields(value, path, {"rules", "seed", "modules", "types", "vlans", "list"});
   Generate generate;
   generate.rules = static_cast<uint32_t>(
       Values::integer(fields.requiredField("rules"), fields.fieldPath("rules"), ruleCountRange));
   if (const Json* seed = fields.field("seed")) {
      generate.seed = Values::integer(*seed, fields.fieldPath("seed"), seedRange);
   }
   if (const Json* types = fields.field("types")) {
      const std::string typesPath = fields.fieldPath("types");
      const Json::array_t& items = Values::list(*types, typesPath);
      if (items.empty()) fail(typesPath, "names no rule type");
      for (std::size_t index = 0; index < items.size(); ++index) {
         const std::string itemPath = Values::elementPath(typesPath, index);
         const RuleType type = ruleType(items[index], itemPath);
         if (std::find(generate.types.begin(), generate.types.end(), type) !=
             generate.types.end()) {
            fail(itemPath, Values::describe(items[index]) + " is listed twice");
         }
         generate.types.push_back(type);
      }
   }
   if (const Json* vlans = fields.field("vlans")) {
      generate.vlans = static_cast<uint32_t>(
          Values::integer(*vlans, fields.fieldPath("vlans"), vlansPerRuleRange));
   }
   if (const Json* list = fields.field("list")) {
      generate.list = Values::boolean(*list, fields.fieldPath("list"));
   }
   generate.modules = Values::modulesField(fields, modules_);
   const std::size_t free = Values::uidRange.max - uids_.size() - poolUids_.size();
   if (generate.rules > free) {
      fail(fields.fieldPath("rules"), std::to_string(generate.rules) + " rules, but only " +
                                          std::to_string(free) + " uids are free");
   }
   for (uint32_t uid = lowestFreeUid(0); generate.uids.size() < generate.rules;
        uid = lowestFreeUid(uid + 1)) {
      generate.uids.push_back(static_cast<uint16_t>(uid));
      use(static_cast<uint16_t>(uid), UidUse{std::nullopt, path});
   }
   return generate;
}

Action StepReader::restart(const Json& value, const std::string& path) {
   return Restart{Values::choice(value, path, "a restart kind", {"warm", "cold"}) == 0};
}

template <class A>
Action StepReader::trueAction(const Json& value, const std::string& path) {
   if (!Values::boolean(value, path)) fail(path, "must be true, got false");
   return A{};
}

Action StepReader::expectHits(const Json& value, const std::string& path) {
   const Fields fields(value, path, {"module", "uid", "hits"});
   ExpectHits expect;
   expect.module = moduleInSwitch(fields.requiredField("module"), fields.fieldPath("module"));
   expect.uid = static_cast<uint16_t>(
       Values::integer(fields.requiredField("uid"), fields.fieldPath("uid"), Values::uidRange));
   expect.hits =
       Values::integer(fields.requiredField("hits"), fields.fieldPath("hits"), hitCountRange);
   return expect;
}

Action StepReader::crash(const Json& value, const std::string& path) {
   const Fields fields(value, path, {"at", "calls", "restart"});
   Crash crash;
   if (const Json* at = fields.field("at")) {
      crash.at = static_cast<Crash::At>(Values::choice(*at, fields.fieldPath("at"), "a crash point",
                                                       {"now", "sdkCall", "commitPass",
                                                        "flashDownload"}));
   }
   if (const Json* calls = fields.field("calls")) {
      if (crash.at == Crash::At::now) fail(fields.fieldPath("calls"), "a crash now counts no calls");
      crash.calls =
          static_cast<uint32_t>(Values::integer(*calls, fields.fieldPath("calls"), sdkCallRange));
   }
   if (const Json* restart = fields.field("restart")) {
      crash.restart = Values::choice(*restart, fields.fieldPath("restart"), "a restart kind",
                                     {"supervisor", "step"}) == 0;
   }
   return crash;
}

Action StepReader::addModule(const Json& value, const std::string& path) {
   const uint16_t added = module(value, path);
   const auto at = std::lower_bound(modules_.begin(), modules_.end(), added);
   if (at != modules_.end() && *at == added) {
      fail(path, "module " + std::to_string(added) + " is already in the switch");
   }
   modules_.insert(at, added);
   return AddModule{added};
}

Action StepReader::removeModule(const Json& value, const std::string& path) {
   const uint16_t removed = module(value, path);
   const auto at = std::lower_bound(modules_.begin(), modules_.end(), removed);
   if (at == modules_.end() || *at != removed) {
      fail(path, "module " + std::to_string(removed) + " is not in the switch");
   }
   // Rules that name no modules get the switch's, which must then be some.
   if (modules_.size() == 1) {
      fail(path, "module " + std::to_string(removed) + " is the switch's last module");
   }
   modules_.erase(at);
   return RemoveModule{removed};
}

// A module that is not in the switch answers nothing, so a step asking it would look like an
// empty dump, a clean audit or a packet that hits nothing.
uint16_t StepReader::moduleInSwitch(const Json& value, const std::string& path) const {
   const uint16_t id = module(value, path);
   if (!std::binary_search(modules_.begin(), modules_.end(), id)) {
      fail(path, "module " + std::to_string(id) + " is not in the switch");
   }
   return id;
}

uint16_t StepReader::uidInUse(const Json& value, const std::string& path) const {
   const auto uid = static_cast<uint16_t>(Values::integer(value, path, Values::uidRange));
   if (uids_.count(uid) == 0) fail(path, "uid " + std::to_string(uid) + " is not in use");
   return uid;
}

void StepReader::use(uint16_t uid, UidUse use) {
   uids_[uid] = std::move(use);
   usedUids_[uid / 64] |= uint64_t{1} << (uid % 64);
}

uint32_t StepReader::lowestFreeUid(uint32_t from) const {
   for (uint32_t word = from / 64; word < usedUids_.size(); ++word) {
      uint64_t free = ~usedUids_[word];
      if (word == from / 64) free &= ~uint64_t{0} << (from % 64);
      if (free != 0) return word * 64 + static_cast<uint32_t>(std::countr_zero(free));
   }
   return static_cast<uint32_t>(usedUids_.size() * 64);
}

}  // namespace Simulator

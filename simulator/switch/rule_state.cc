#include "simulator/switch/rule_state.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace Simulator {
namespace {

uint16_t portOf(const std::optional<Endpoint>& endpoint) { return endpoint ? endpoint->port : 0; }

std::string vlanListText(const std::vector<uint16_t>& vlans) {
   if (vlans.size() == 1 && vlans[0] == 0) return "any VLAN";
   std::string text = vlans.size() == 1 ? "VLAN " : "VLANs ";
   for (std::size_t i = 0; i < vlans.size(); ++i) {
      if (i != 0) text += ',';
      text += std::to_string(vlans[i]);
   }
   return text;
}

std::string entriesText(std::size_t count) {
   return std::to_string(count) + (count == 1 ? " entry" : " entries");
}

}  // namespace

bool entriesMatchAnyVlan(const Rule& rule) {
   return rule.type == RuleType::dynamicDestNat || rule.vlans.empty();
}

std::size_t entriesPerKeyAndVlan(const Rule& rule) {
   const bool newPort = portOf(rule.srcNew) != 0 || portOf(rule.dstNew) != 0;
   const bool oldPort = portOf(rule.src) != 0 || portOf(rule.dst) != 0;
   switch (rule.type) {
      case RuleType::staticSrcNat:
      case RuleType::staticDestNat:
         return newPort ? 2 : 1;
      case RuleType::twiceSrcNat:
      case RuleType::twiceDestNat:
         return oldPort && newPort ? 2 : 1;
      case RuleType::dynamicSrcNat:
      case RuleType::dynamicDestNat:
         return 2;
   }
   return 1;
}

// A warm start stages a rule's entries beside the previous run's, which carry its traffic
// until the flash download: a VLAN is in hardware when either set is whole.
RuleOnModule ruleOnModule(const Rule& rule, uint16_t module, ModuleAnswer answer,
                          const std::vector<ChipEntry>& entries, std::size_t free) {
   RuleOnModule held;
   held.module = module;
   held.result = answer.result;
   held.entries = entries;
   held.free = free;
   const std::size_t perVlan = rule.keys.size() * entriesPerKeyAndVlan(rule);
   const std::vector<uint16_t> vlans = rule.vlans.empty() ? std::vector<uint16_t>{0} : rule.vlans;
   const bool anyVlan = entriesMatchAnyVlan(rule);
   bool staged = false;
   // Entries that match any VLAN are the rule's VLANs' in the order it lists them, as the
   // agent programs them.
   std::size_t anyVlanLeft = 0;
   if (anyVlan) {
      std::size_t placed = 0;
      std::size_t waiting = 0;
      for (const ChipEntry& entry : entries) (entry.staged ? waiting : placed) += 1;
      anyVlanLeft = std::max(placed, waiting);
      staged = waiting != 0;
   }
   for (const uint16_t vlan : vlans) {
      std::size_t have = 0;
      if (anyVlan) {
         have = std::min(anyVlanLeft, perVlan);
         anyVlanLeft -= have;
      } else {
         std::size_t placed = 0;
         std::size_t waiting = 0;
         for (const ChipEntry& entry : entries) {
            if (entry.vlan != vlan) continue;
            (entry.staged ? waiting : placed) += 1;
         }
         staged = staged || waiting != 0;
         have = std::max(placed, waiting);
      }
      if (have >= perVlan) {
         held.vlansIn.push_back(vlan);
      } else {
         held.vlansOut.push_back(vlan);
         held.needs += perVlan - have;
      }
   }
   for (const ChipEntry& entry : entries) held.hits += entry.hits;

   using State = RuleOnModule::State;
   if (answer.kind == ModuleAnswer::Kind::unanswered) {
      held.state = State::unanswered;
   } else if (answer.kind == ModuleAnswer::Kind::waiting) {
      held.state = State::waiting;
   } else if (answer.result == 1) {
      held.state = staged ? State::staged : State::programmed;
   } else if (answer.result == 2) {
      held.state = held.vlansIn.empty() ? State::failed : State::partial;
   } else {
      held.state = State::otherResult;
   }
   return held;
}

const char* stateName(RuleOnModule::State state) {
   switch (state) {
      case RuleOnModule::State::programmed:
         return "programmed";
      case RuleOnModule::State::staged:
         return "staged";
      case RuleOnModule::State::partial:
         return "partial";
      case RuleOnModule::State::failed:
         return "failed";
      case RuleOnModule::State::unanswered:
         return "unanswered";
      case RuleOnModule::State::waiting:
         return "waiting";
      case RuleOnModule::State::otherResult:
         return "result";
   }
   return "result";
}

std::string shortfallText(const RuleOnModule& held) {
   std::string text;
   if (held.vlansIn.empty()) {
      text = "not in hardware";
   } else {
      text = "in hardware on " + vlanListText(held.vlansIn) + ", not on " +
             vlanListText(held.vlansOut);
   }
   return text + "; needs " + std::to_string(held.needs) +
          (held.needs == 1 ? " more entry, " : " more entries, ") + std::to_string(held.free) +
          " free";
}

std::string ruleOnModuleText(const RuleOnModule& held) {
   using State = RuleOnModule::State;
   std::string text = "module " + std::to_string(held.module) + ": " + stateName(held.state);
   const std::string shortfall = "TCAM full: needs " + std::to_string(held.needs) +
                                 (held.needs == 1 ? " more entry, " : " more entries, ") +
                                 std::to_string(held.free) + " free";
   switch (held.state) {
      case State::staged:
         text += ", active at the flash download";
         break;
      case State::partial:
         text += ": in hardware on " + vlanListText(held.vlansIn) + ", not on " +
                 vlanListText(held.vlansOut) + " (" + shortfall + ")";
         break;
      case State::failed:
         text += " (" + shortfall + ")";
         break;
      case State::unanswered:
         text += ": the module has not answered its current request";
         break;
      case State::waiting:
         text += ": the agent is down";
         break;
      case State::otherResult:
         text += " " + std::to_string(held.result);
         break;
      case State::programmed:
         break;
   }
   text += "; " + entriesText(held.entries.size());
   const char* separator = ": ";
   for (const ChipEntry& entry : held.entries) {
      text += separator + std::to_string(entry.id);
      if (entry.staged) text += " staged";
      if (entry.hits != 0) {
         text += " (" + std::to_string(entry.hits) + (entry.hits == 1 ? " hit)" : " hits)");
      }
      separator = ", ";
   }
   return text;
}

nlohmann::ordered_json ruleOnModuleJson(uint16_t uid, const RuleOnModule& held) {
   nlohmann::ordered_json entries = nlohmann::ordered_json::array();
   for (const ChipEntry& entry : held.entries) {
      entries.push_back(
          {{"id", entry.id}, {"vlan", entry.vlan}, {"staged", entry.staged}, {"hits", entry.hits}});
   }
   nlohmann::ordered_json fields{{"uid", uid},
                                 {"module", held.module},
                                 {"state", stateName(held.state)},
                                 {"result", held.result},
                                 {"vlansIn", held.vlansIn},
                                 {"vlansOut", held.vlansOut},
                                 {"hits", held.hits},
                                 {"entries", entries}};
   if (!held.vlansOut.empty()) {
      fields["needs"] = held.needs;
      fields["free"] = held.free;
   }
   return fields;
}

}  // namespace Simulator

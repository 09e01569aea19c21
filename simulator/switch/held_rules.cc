#include "simulator/switch/held_rules.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

namespace Simulator {
namespace {

std::string vlanText(uint16_t vlan) {
   return vlan == 0 ? "any VLAN" : "VLAN " + std::to_string(vlan);
}

bool names(const Rule& rule, uint16_t module) {
   return std::find(rule.modules.begin(), rule.modules.end(), module) != rule.modules.end();
}

// Why an intended VLAN has no entries: the module's answer.
const char* whyMissing(RuleOnModule::State state) {
   switch (state) {
      case RuleOnModule::State::partial:
      case RuleOnModule::State::failed:
         return "TCAM full";
      case RuleOnModule::State::unanswered:
         return "not answered yet";
      case RuleOnModule::State::waiting:
         return "the agent is down";
      default:
         return "answered done";
   }
}

}  // namespace

ModuleAnswer moduleAnswer(SimulatedSwitch& simulated, uint16_t uid, uint16_t module) {
   ControlPlane::NatControlPlane& controlPlane = simulated.controlPlane();
   if (!controlPlane.ruleHas(TesselNat::Uid(uid))) return {};
   const U32 version = controlPlane.reqVersion(TesselNat::Uid(uid));
   const Quill::QuillShoalStatusDir* dir = controlPlane.statusDir(TesselCentral::ModId(module));
   bool found = false;
   const Quill::QuillShoalStatus status =
       dir ? dir->safeLookup(Quill::QuillShoalKey(uid), found) : Quill::QuillShoalStatus();
   if (found && status.reqVersion() == version) {
      return {ModuleAnswer::Kind::answered, status.result()};
   }
   return {simulated.agentUp() ? ModuleAnswer::Kind::unanswered : ModuleAnswer::Kind::waiting, 0};
}

const ChipEntriesByUid& HeldRules::entriesOn(uint16_t module) {
   auto found = entries_.find(module);
   if (found == entries_.end()) {
      found = entries_
                  .emplace(module,
                           chipEntriesByUid(switch_.chip(), module, switch_.config().natEntries))
                  .first;
   }
   return found->second;
}

std::size_t HeldRules::freeOn(uint16_t module) { return use(module).free; }

// While a warm start stages its entries, the previous run's in the TCAM take none of the
// room the agent allocates from.
HeldRules::ModuleUse HeldRules::use(uint16_t module) {
   const ChipEntriesByUid& byUid = entriesOn(module);
   ModuleUse use;
   use.module = module;
   std::size_t placed = 0;
   for (const auto& [uid, entries] : byUid) {
      for (const ChipEntry& entry : entries) {
         use.staged = use.staged || entry.staged;
         placed += entry.staged ? 0 : 1;
      }
   }
   constexpr std::size_t noRule = static_cast<std::size_t>(RuleType::dynamicDestNat) + 1;
   std::array<TypeUse, noRule + 1> types{};
   for (const auto& [uid, entries] : byUid) {
      const std::size_t counted = static_cast<std::size_t>(std::count_if(
          entries.begin(), entries.end(),
          [&](const ChipEntry& entry) { return entry.staged == use.staged; }));
      if (counted == 0) continue;
      const auto rule = uid > 0xFFFF ? rules_.end() : rules_.find(static_cast<uint16_t>(uid));
      const std::size_t type =
          rule == rules_.end() ? noRule : static_cast<std::size_t>(rule->second.type);
      types[type].entries += counted;
      types[type].rules += 1;
      use.used += counted;
   }
   for (std::size_t type = 0; type < types.size(); ++type) {
      if (types[type].entries == 0) continue;
      types[type].type = type == noRule ? "no live rule" : ruleTypeName(static_cast<RuleType>(type));
      use.types.push_back(types[type]);
   }
   const std::size_t size = switch_.config().natEntries;
   use.free = size - std::min(use.used, size);
   if (use.staged) use.previousRun = placed;
   return use;
}

RuleOnModule HeldRules::ruleOn(const Rule& rule, uint16_t module) {
   const ChipEntriesByUid& entries = entriesOn(module);
   const auto found = entries.find(rule.uid);
   static const std::vector<ChipEntry> none;
   return ruleOnModule(rule, module, moduleAnswer(switch_, rule.uid, module),
                       found == entries.end() ? none : found->second, freeOn(module));
}

HeldRules::ModuleDiff HeldRules::diff(uint16_t module) {
   ModuleDiff diff;
   diff.module = module;
   for (const auto& [uid, rule] : rules_) {
      if (!names(rule, module)) continue;
      const RuleOnModule held = ruleOn(rule, module);
      ++diff.rules;
      diff.vlans += held.vlansIn.size() + held.vlansOut.size();
      for (const uint16_t vlan : held.vlansOut) diff.missing.push_back({uid, vlan, held.state});
   }
   for (const auto& [uid, entries] : entriesOn(module)) {
      const auto rule = uid > 0xFFFF ? rules_.end() : rules_.find(static_cast<uint16_t>(uid));
      const bool intended = rule != rules_.end() && names(rule->second, module);
      std::map<uint16_t, std::size_t> byVlan;
      for (const ChipEntry& entry : entries) {
         const bool vlanIntended =
             intended && (entriesMatchAnyVlan(rule->second)
                              ? entry.vlan == 0
                              : std::find(rule->second.vlans.begin(), rule->second.vlans.end(),
                                          entry.vlan) != rule->second.vlans.end());
         if (!vlanIntended) ++byVlan[entry.vlan];
      }
      for (const auto& [vlan, count] : byVlan) diff.extra.push_back({uid, vlan, count});
   }
   return diff;
}

std::vector<DiffLine> diffLines(const HeldRules::ModuleDiff& diff) {
   using Json = nlohmann::ordered_json;
   const std::string prefix = "diff module " + std::to_string(diff.module) + ": ";
   std::vector<DiffLine> lines;
   for (const HeldRules::Missing& missing : diff.missing) {
      lines.push_back({prefix + "uid " + std::to_string(missing.uid) + " " +
                           vlanText(missing.vlan) + " intended, not in hardware (" +
                           whyMissing(missing.state) + ")",
                       Json{{"module", diff.module},
                            {"uid", missing.uid},
                            {"vlan", missing.vlan},
                            {"intended", true},
                            {"inHardware", false},
                            {"why", whyMissing(missing.state)}}});
   }
   std::size_t extraEntries = 0;
   for (const HeldRules::Extra& extra : diff.extra) {
      extraEntries += extra.entries;
      lines.push_back({prefix + "uid " + std::to_string(extra.uid) + " " + vlanText(extra.vlan) +
                           " in hardware, not intended (" + std::to_string(extra.entries) +
                           (extra.entries == 1 ? " entry)" : " entries)"),
                       Json{{"module", diff.module},
                            {"uid", extra.uid},
                            {"vlan", extra.vlan},
                            {"intended", false},
                            {"inHardware", true},
                            {"entries", extra.entries}}});
   }
   const std::string intended = std::to_string(diff.rules) +
                                (diff.rules == 1 ? " rule" : " rules") + " on " +
                                std::to_string(diff.vlans) + (diff.vlans == 1 ? " VLAN" : " VLANs");
   const bool same = lines.empty();
   lines.push_back(
       {prefix + (same ? "as intended, " + intended
                       : intended + " intended, " + std::to_string(diff.missing.size()) +
                             " not in hardware, " + std::to_string(extraEntries) +
                             (extraEntries == 1 ? " entry" : " entries") + " not intended"),
        Json{{"module", diff.module},
             {"same", same},
             {"rules", diff.rules},
             {"vlans", diff.vlans},
             {"notInHardware", diff.missing.size()},
             {"notIntended", extraEntries}}});
   return lines;
}

// One key on one VLAN takes 1 entry, or 2 with ports or a dynamic rule's fragment entry.
DiffLine useLine(const HeldRules::ModuleUse& use) {
   std::string text = "tcam module " + std::to_string(use.module) + ": " +
                      std::to_string(use.used) + " of " + std::to_string(use.used + use.free) +
                      " entries used" + (use.staged ? " (staged for the flash download)" : "") +
                      ", " + std::to_string(use.free) + " free";
   nlohmann::ordered_json types = nlohmann::ordered_json::array();
   const char* separator = ": ";
   for (const HeldRules::TypeUse& type : use.types) {
      text += separator + type.type + " " + std::to_string(type.entries) + " (" +
              std::to_string(type.rules) + (type.rules == 1 ? " rule)" : " rules)");
      separator = ", ";
      types.push_back({{"type", type.type}, {"entries", type.entries}, {"rules", type.rules}});
   }
   text += "; headroom: " + std::to_string(use.free) +
           (use.free == 1 ? " more rule of 1 entry or " : " more rules of 1 entry or ") +
           std::to_string(use.free / 2) + " of 2";
   return {text, nlohmann::ordered_json{{"module", use.module},
                                        {"used", use.used},
                                        {"free", use.free},
                                        {"staged", use.staged},
                                        {"types", types},
                                        {"roomFor1EntryRules", use.free},
                                        {"roomFor2EntryRules", use.free / 2}}};
}

}  // namespace Simulator

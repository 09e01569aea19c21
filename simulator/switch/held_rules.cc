#include "simulator/switch/held_rules.h"

#include <algorithm>
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

// While a warm start stages its entries, the previous run's in the TCAM take none of the
// room the agent allocates from.
std::size_t HeldRules::freeOn(uint16_t module) {
   std::size_t placed = 0;
   std::size_t staged = 0;
   for (const auto& [uid, entries] : entriesOn(module)) {
      for (const ChipEntry& entry : entries) (entry.staged ? staged : placed) += 1;
   }
   const std::size_t used = staged != 0 ? staged : placed;
   return switch_.config().natEntries - std::min<std::size_t>(used, switch_.config().natEntries);
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
             intended && (rule->second.vlans.empty()
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

}  // namespace Simulator

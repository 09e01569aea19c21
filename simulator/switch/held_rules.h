#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "simulator/scenario/scenario.h"
#include "simulator/switch/chip_entries.h"
#include "simulator/switch/rule_state.h"
#include "simulator/switch/simulated_switch.h"

namespace Simulator {

// The module's answer to the uid's current request, read from its status directory. A rule
// the control plane forgot was answered done by every module.
ModuleAnswer moduleAnswer(SimulatedSwitch& simulated, uint16_t uid, uint16_t module);

// What the switch holds of a scenario's live rules, by uid, read from each module's answers and
// from the chip: what a listing shows and what a diff compares.
class HeldRules {
public:
   HeldRules(SimulatedSwitch& simulated, const std::map<uint16_t, Rule>& rules)
       : switch_(simulated), rules_(rules) {}

   RuleOnModule ruleOn(const Rule& rule, uint16_t module);

   // The intended state against the chip's: a rule's VLAN whose entries the module lacks, and
   // entries of the module that no live rule naming it intends (a uid not live, a VLAN the
   // rule does not have, or no uid tag at all: uid 0).
   struct Missing {
      uint16_t uid;
      uint16_t vlan;  // 0: any VLAN
      RuleOnModule::State state;
   };
   struct Extra {
      uint32_t uid;
      uint16_t vlan;
      std::size_t entries;
   };
   struct ModuleDiff {
      uint16_t module = 0;
      std::size_t rules = 0;  // intended on the module
      std::size_t vlans = 0;  // their VLANs, an any-VLAN rule counting one
      std::vector<Missing> missing;
      std::vector<Extra> extra;
   };
   ModuleDiff diff(uint16_t module);

   // The module's TCAM: the entries the agent allocated (while a warm start stages its
   // entries, the staged ones) by the type of the rule they implement, and the room left.
   struct TypeUse {
      std::string type;  // a rule type's name, or "no live rule"
      std::size_t entries = 0;
      std::size_t rules = 0;
   };
   struct ModuleUse {
      uint16_t module = 0;
      std::size_t used = 0;
      std::size_t free = 0;
      bool staged = false;
      // While staged: the previous run's entries, in the TCAM until the flash download.
      std::size_t previousRun = 0;
      std::vector<TypeUse> types;  // in the order of the rule types, those with entries
   };
   ModuleUse use(uint16_t module);

private:
   const ChipEntriesByUid& entriesOn(uint16_t module);
   std::size_t freeOn(uint16_t module);

   SimulatedSwitch& switch_;
   const std::map<uint16_t, Rule>& rules_;
   // Read once per module: the chip does not change while a step lists or compares.
   std::map<uint16_t, ChipEntriesByUid> entries_;
};

// Each line of a module's diff, as text and as JSON:
// "diff module 1: uid 7 VLAN 30 intended, not in hardware (TCAM full)",
// "diff module 1: uid 9 VLAN 10 in hardware, not intended (2 entries)", and last
// "diff module 1: 3 rules on 4 VLANs intended, 1 not in hardware, 2 entries not intended" or
// "diff module 1: as intended, 3 rules on 4 VLANs".
struct DiffLine {
   std::string text;
   nlohmann::ordered_json fields;
};
std::vector<DiffLine> diffLines(const HeldRules::ModuleDiff& diff);
// "tcam module 1: 15 of 16 entries used, 1 free: staticSrcNat 1 (1 rule), staticDestNat 14
// (1 rule); room for 1 more rule of 1 entry, 0 of 2".
DiffLine useLine(const HeldRules::ModuleUse& use);

}  // namespace Simulator

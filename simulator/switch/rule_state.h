#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "simulator/scenario/scenario.h"
#include "simulator/switch/chip_entries.h"

namespace Simulator {

// A module's answer to a rule's current request.
struct ModuleAnswer {
   enum class Kind : uint8_t { answered, unanswered, waiting };
   Kind kind = Kind::answered;
   uint32_t result = 1;  // when answered: 1 done, 2 the TCAM was full
};

// What one module holds of one rule: its answer beside what the chip holds, so that a rule
// answered "TCAM full" still says on which of its VLANs it carries traffic.
struct RuleOnModule {
   enum class State : uint8_t {
      programmed,  // done, every entry in the TCAM
      staged,      // done, its entries wait for the flash download to become active
      partial,     // TCAM full, in hardware on some of its VLANs
      failed,      // TCAM full, in hardware on none
      unanswered,  // the module has not answered the current request
      waiting,     // the agent is down
      otherResult,
   };
   uint16_t module = 0;
   State state = State::programmed;
   uint32_t result = 1;
   // The rule's VLANs (0: any, for a source rule) with every entry it needs there, and the
   // others.
   std::vector<uint16_t> vlansIn;
   std::vector<uint16_t> vlansOut;
   // The entries the chip holds for the rule: in TCAM slots, and staged.
   std::vector<ChipEntry> entries;
   uint64_t hits = 0;
   // Entries the VLANs out still need, and the module's free entries.
   std::size_t needs = 0;
   std::size_t free = 0;
};

// `entries` are the chip's entries tagged with the rule's uid on the module.
RuleOnModule ruleOnModule(const Rule& rule, uint16_t module, ModuleAnswer answer,
                          const std::vector<ChipEntry>& entries, std::size_t free);

// "programmed", "partial", ...
const char* stateName(RuleOnModule::State state);
// "module 1: partial: in hardware on VLAN 10, not on 20 (TCAM full: needs 2 more entries, 0
// free); 2 entries: 5 (3 hits), 6".
std::string ruleOnModuleText(const RuleOnModule& held);
// Why a rule answered "TCAM full" on the module and what of it is in hardware all the same:
// "in hardware on VLAN 10, not on 20; needs 2 more entries, 0 free".
std::string shortfallText(const RuleOnModule& held);
// The same fields for tools, each entry with its id, VLAN, whether staged and its hits.
nlohmann::ordered_json ruleOnModuleJson(uint16_t uid, const RuleOnModule& held);

// Whether the rule's entries match packets on any VLAN: a source rule's, which has none, and
// a dynamic destination rule's, whose entries (one set per VLAN) qualify no ingress interface.
bool entriesMatchAnyVlan(const Rule& rule);

// The entries one key of the rule takes on one VLAN: a port rule's and a dynamic rule's
// fragment entry beside the default one.
std::size_t entriesPerKeyAndVlan(const Rule& rule);

}  // namespace Simulator

#pragma once

#include <cstdint>
#include <iosfwd>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "simulator/switch/rule_state.h"

namespace Simulator {

// The program's events on stdout: one line each, as text for people or as JSON Lines for
// tools, with the same content.
class EventWriter {
public:
   enum class Format { text, json };

   EventWriter(std::ostream& out, Format format) : out_(out), format_(format) {}

   // What a step does, before its events: "steps[3] add uid 7 staticDestNat ...". As JSON it
   // also carries the action's name and its value as the file gave it (`source`, JSON text).
   void step(const std::string& path, const std::string& what, const std::string& action = {},
             const std::string& source = {});
   // A module's answer to a rule's current request; with `held`, for a "TCAM full", what of
   // the rule is in hardware all the same and what the rest needs.
   void status(uint16_t module, uint16_t uid, uint32_t result,
               const RuleOnModule* held = nullptr);
   // A module in the switch that has not answered the rule's current request.
   void unanswered(uint16_t module, uint16_t uid);
   // A module whose agent is down, so that the rule's current request waits for the next one.
   void waiting(uint16_t module, uint16_t uid);
   // The control plane refused the rule before publishing anything.
   void refused(uint16_t uid, const std::string& reason);
   // Answers the module's status directory refused to take since the last report.
   void answersLost(uint16_t module, uint32_t count);
   // The dump: as text `shown` (the dump exactly as the command socket returned it, or a form
   // of it), as JSON the dump and its records.
   void show(uint16_t module, const std::string& dump, const std::string& shown);
   void verifyOk(uint16_t module);
   // `fullUid`, when not 0, is the rule the module answered "TCAM full", whose missing entries
   // the disagreement is.
   void disagreement(uint16_t module, const std::string& check, const std::string& key,
                     uint16_t vlan, uint32_t entry, uint64_t expected, uint64_t read,
                     uint16_t fullUid = 0);
   struct Hit {
      uint32_t entry;
      uint32_t uid;
      uint32_t profile;
      std::string kind;        // the rule type, or "unknown" for an entry of no known rule
      std::string forwarding;  // "l3-switch N" (the egress object), "drop" or "unchanged"
      std::string src;         // the packet's addresses after translation
      std::string dst;
   };
   void packetHit(uint16_t module, const Hit& hit);
   void packetMiss(uint16_t module);
   // A traffic flow's packets through a restart or a flash download: those that hit nothing
   // where they hit an entry before, and those that met another outcome than before.
   void traffic(std::size_t flow, const std::string& packets, uint64_t sent, uint64_t lost,
                uint64_t misrouted);
   // Anything else worth a line: a restart, the flash download, a generate summary.
   void note(const std::string& text);
   // An event whose line is `text` and whose JSON is `fields` after its kind, `event`.
   void event(const char* event, const std::string& text, const nlohmann::ordered_json& fields);
   struct ModuleUse {
      uint16_t module;
      std::size_t used;
      std::size_t free;
   };
   // What happened to the requests: answers by result, modules that did not answer,
   // rules the control plane refused, answers lost to a full status directory.
   struct Requests {
      std::size_t answered1 = 0;
      std::size_t answered2 = 0;
      std::size_t unanswered = 0;
      std::size_t refused = 0;
      std::size_t lost = 0;
   };
   void summary(std::size_t rules, const std::vector<ModuleUse>& modules, const Requests& requests);

private:
   std::ostream& out_;
   Format format_;
};

}  // namespace Simulator

#include "simulator/scenario/scenario_parser.h"

#include <set>
#include <string>
#include <vector>

#include "simulator/scenario/step_reader.h"
#include "simulator/scenario/values.h"

namespace Simulator {

namespace {

using Values::Fields;
using Values::Json;

// Well beyond the deepest valid file, and shallow enough that no input makes anything recurse
// far.
constexpr int maxDepth = 16;

constexpr Values::Range natEntriesRange{16, 65536, nullptr};
constexpr Values::Range pipesRange{1, 4, nullptr};

// The JSON parser keeps the last of a key given twice; a file saying two things is refused.
Json parseJson(std::string_view text) {
   std::vector<std::set<std::string>> keysSeen;
   const auto check = [&keysSeen](int depth, Json::parse_event_t event, Json& parsed) {
      if (depth > maxDepth) {
         throw ScenarioError("scenario: nested deeper than " + std::to_string(maxDepth) +
                             " levels");
      }
      if (event == Json::parse_event_t::object_start) keysSeen.emplace_back();
      if (event == Json::parse_event_t::object_end) keysSeen.pop_back();
      if (event == Json::parse_event_t::key &&
          !keysSeen.back().insert(parsed.get_ref<const std::string&>()).second) {
         throw ScenarioError("scenario: field " +
                             Values::quotedName(parsed.get_ref<const std::string&>()) +
                             " appears twice in one object");
      }
      return true;
   };
   return Json::parse(text.begin(), text.end(), check);
}

Chip parseChip(const Json& value) {
   const Fields fields(value, "chip", {"natEntries", "pipes", "copiesPerPipe"});
   Chip chip;
   if (const Json* entries = fields.field("natEntries")) {
      chip.natEntries = static_cast<uint32_t>(
          Values::integer(*entries, fields.fieldPath("natEntries"), natEntriesRange));
   }
   if (const Json* pipes = fields.field("pipes")) {
      chip.pipes =
          static_cast<uint8_t>(Values::integer(*pipes, fields.fieldPath("pipes"), pipesRange));
   }
   if (const Json* copies = fields.field("copiesPerPipe")) {
      chip.copiesPerPipe = static_cast<uint8_t>(
          Values::integer(*copies, fields.fieldPath("copiesPerPipe"), pipesRange));
   }
   return chip;
}

Scenario readScenario(std::string_view text) {
   const Json root = parseJson(text);
   const Fields fields(root, "", {"chip", "modules", "flashDownloadDone", "steps"});
   Scenario scenario;
   if (const Json* chip = fields.field("chip")) scenario.chip = parseChip(*chip);
   if (const Json* modules = fields.field("modules")) {
      scenario.modules = Values::modules(*modules, "modules");
   }
   if (const Json* done = fields.field("flashDownloadDone")) {
      scenario.flashDownloadDone = Values::boolean(*done, "flashDownloadDone");
   }
   const Json::array_t& steps = Values::list(fields.requiredField("steps"), "steps");
   StepReader reader(scenario.modules);
   for (std::size_t index = 0; index < steps.size(); ++index) {
      scenario.steps.push_back(reader.read(steps[index], index));
   }
   return scenario;
}

}  // namespace

Scenario parseScenario(std::string_view text) {
   try {
      return readScenario(text);
   } catch (const Json::exception& error) {
      throw ScenarioError(std::string("scenario: ") + error.what());
   }
}

}  // namespace Simulator

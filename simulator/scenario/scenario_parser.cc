#include "simulator/scenario/scenario_parser.h"

#include <set>
#include <string>
#include <vector>

#include "simulator/scenario/pool_reader.h"
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

// What the JSON parser lets through, checked as the text streams by: nesting deeper than
// maxDepth, and a field given twice in one object, of which the parser would keep the last; a
// file saying two things is refused. Syntax errors are left to the parser, which names them.
class StructureCheck final : public nlohmann::json_sax<Json> {
public:
   bool null() override { return value(); }
   bool boolean(bool) override { return value(); }
   bool number_integer(number_integer_t) override { return value(); }
   bool number_unsigned(number_unsigned_t) override { return value(); }
   bool number_float(number_float_t, const string_t&) override { return value(); }
   bool string(string_t&) override { return value(); }
   bool binary(binary_t&) override { return value(); }
   bool start_object(std::size_t) override {
      enter();
      keysSeen_.emplace_back();
      return true;
   }
   bool key(string_t& name) override {
      value();
      if (!keysSeen_.back().insert(name).second) {
         throw ScenarioError("scenario: field " + Values::quotedName(name) +
                             " appears twice in one object");
      }
      return true;
   }
   bool end_object() override {
      keysSeen_.pop_back();
      --open_;
      return true;
   }
   bool start_array(std::size_t) override {
      enter();
      return true;
   }
   bool end_array() override {
      --open_;
      return true;
   }
   bool parse_error(std::size_t, const std::string&, const Json::exception&) override {
      return false;
   }

private:
   bool value() const {
      if (open_ > maxDepth) {
         throw ScenarioError("scenario: nested deeper than " + std::to_string(maxDepth) +
                             " levels");
      }
      return true;
   }
   void enter() {
      value();
      ++open_;
   }

   int open_ = 0;  // Objects and lists around the next value.
   std::vector<std::set<std::string>> keysSeen_;
};

// Two passes, each linear in the text. The parser's own callback could check the same, but
// it then scans a list for discarded values at the end of each object in it, which makes a
// file of n steps take time growing with n squared.
Json parseJson(std::string_view text) {
   StructureCheck check;
   // A syntax error stops the check, and the parse then throws it.
   Json::sax_parse(text.begin(), text.end(), &check);
   return Json::parse(text.begin(), text.end());
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
   const Fields fields(root, "", {"chip", "modules", "flashDownloadDone", "pools", "steps"});
   Scenario scenario;
   if (const Json* chip = fields.field("chip")) scenario.chip = parseChip(*chip);
   if (const Json* modules = fields.field("modules")) {
      scenario.modules = Values::modules(*modules, "modules");
   }
   if (const Json* done = fields.field("flashDownloadDone")) {
      scenario.flashDownloadDone = Values::boolean(*done, "flashDownloadDone");
   }
   if (const Json* pools = fields.field("pools")) {
      scenario.pools = readPools(*pools, scenario.modules);
   }
   const Json::array_t& steps = Values::list(fields.requiredField("steps"), "steps");
   StepReader reader(scenario.modules, scenario.pools);
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

#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/scenario/scenario.h"

// Readers of a scenario file's values. Each is given the path of the value it reads
// ("steps[3].add.vlans[2]") and throws a ScenarioError naming that path when the value is not
// what the field takes, so that one message tells the user where to look.
namespace Simulator::Values {

using Json = nlohmann::json;

[[noreturn]] void fail(const std::string& path, const std::string& message);

// `value` for a message, on one short line whatever the file holds: scalars as written (long
// strings cut), lists and objects by their kind only.
std::string describe(const Json& value);
// A field name for a message: quoted as written when short and plain, else as JSON.
std::string quotedName(std::string_view name);

std::string elementPath(const std::string& path, std::size_t index);

// An object's fields, every one of which must be among `known`. The top level has the empty
// path, so that its fields are named on their own ("steps[0]", not "scenario.steps[0]").
class Fields {
public:
   Fields(const Json& value, std::string path, std::initializer_list<std::string_view> known);

   const std::string& path() const { return path_; }
   std::string fieldPath(std::string_view name) const;
   // Null when absent.
   const Json* field(std::string_view name) const;
   const Json& requiredField(std::string_view name) const;

private:
   const Json& object_;
   std::string path_;
};

// The integers a field takes, and what one is for messages: "5000 is not a VLAN id (1..4094)",
// or without a noun "8 is out of range (16..65536)".
struct Range {
   uint64_t min;
   uint64_t max;
   const char* noun;
};
inline constexpr Range uidRange{1, 65535, "a uid"};
inline constexpr Range vlanRange{1, 4094, "a VLAN id"};
inline constexpr Range moduleRange{1, 64, "a module id"};
inline constexpr Range protocolRange{0, 255, "a protocol number"};

uint64_t integer(const Json& value, const std::string& path, const Range& range);
bool boolean(const Json& value, const std::string& path);
const std::string& string(const Json& value, const std::string& path);
const Json::array_t& list(const Json& value, const std::string& path);
// The index in `names` of the string `value`; `noun` says what the names are.
std::size_t choice(const Json& value, const std::string& path, const char* noun,
                   std::initializer_list<std::string_view> names);

// A list of distinct integers in `range`.
std::vector<uint16_t> ids(const Json& value, const std::string& path, const Range& range);
// Distinct module ids, at least one.
std::vector<uint16_t> modules(const Json& value, const std::string& path);
// A rule's or a generate step's `modules`: each in the switch, which has `present` (ascending);
// when absent, all of them.
std::vector<uint16_t> modulesField(const Fields& fields, const std::vector<uint16_t>& present);

// "a.b.c.d" or "a.b.c.d:port".
Endpoint endpoint(const Json& value, const std::string& path);
// "a.b.c.d/len", without host bits.
Prefix prefix(const Json& value, const std::string& path);

}  // namespace Simulator::Values

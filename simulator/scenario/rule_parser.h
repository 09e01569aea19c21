#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "simulator/scenario/scenario.h"
#include "simulator/scenario/values.h"

namespace Simulator {

// The rule type a scenario file names at `path`.
RuleType ruleType(const Values::Json& value, const std::string& path);

// Reads the rule at `path` ("steps[3].add") with the fields its type takes. Its modules must be
// in the switch, which has `present` (ascending); a rule that names none gets them all.
Rule parseRule(const Values::Json& value, const std::string& path,
               const std::vector<uint16_t>& present);

// The first of the fields forming a rule's hardware keys that differs between the two, or null:
// an update cannot change them, as the rule would no longer be the one the uid names.
const char* changedKeyField(const Rule& before, const Rule& after);
// A hash of the fields changedKeyField() compares: two rules in which it finds no change hash
// alike.
std::size_t keyFieldsHash(const Rule& rule);

// The filter or protocol (the rule's or a key's) that `after` takes away from `before`, or
// nothing: an update may change them but not remove them.
std::optional<std::string> droppedMatch(const Rule& before, const Rule& after);

}  // namespace Simulator

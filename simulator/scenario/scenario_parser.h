#pragma once

#include <stdexcept>
#include <string_view>

#include "simulator/scenario/scenario.h"

namespace Simulator {

// What is wrong with a scenario file, in one line that starts with where: "steps[3].add.vlans[2]:
// 5000 is not a VLAN id (1..4094)".
class ScenarioError : public std::runtime_error {
public:
   using std::runtime_error::runtime_error;
};

// Reads and checks a whole scenario file, so that a mistake in its last step is found before
// its first step runs. Throws nothing but ScenarioError, whatever `text` holds.
Scenario parseScenario(std::string_view text);

}  // namespace Simulator

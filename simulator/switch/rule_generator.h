#pragma once

#include <vector>

#include "simulator/scenario/scenario.h"

namespace Simulator {

// The rules a generate step adds, one per uid it was given, the same for the same seed: half
// static (with and without ports and filters), a quarter twice NAT, a quarter dynamic
// flows; destination rules on 1 to 4 VLANs. Addresses come from the uid, within
// 100.64.0.0/10 and 198.18.0.0/15, so no two generated rules share a key.
std::vector<Rule> generatedRules(const Generate& generate);

}  // namespace Simulator

#pragma once

#include <cstdint>
#include <random>

#include "simulator/scenario/scenario.h"

namespace Simulator {

// The rules the churn soak publishes: uids 1 to soakMaxUid, each with key fields fixed by its
// uid and data drawn afresh for every version.
inline constexpr uint16_t soakMaxUid = 48;
// The module that comes and goes; rules with odd uids name it, also while it is out.
inline constexpr uint16_t soakSpareModule = 3;

// Pairs of rules that overlap: uid 4k - 1 translates an inside host, uid 4k one flow of it.
inline bool isSoakHostRule(uint16_t uid) { return uid % 4 == 3; }
inline bool isSoakFlowRule(uint16_t uid) { return uid % 4 == 0; }

// A version of the rule of `uid`, its data (VLANs, key count, next hop) drawn from `random`.
Rule soakRuleFor(uint16_t uid, std::mt19937_64& random);

}  // namespace Simulator

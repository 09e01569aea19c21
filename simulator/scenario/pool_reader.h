#pragma once

#include <cstdint>
#include <vector>

#include "simulator/scenario/scenario.h"
#include "simulator/scenario/values.h"

namespace Simulator {

// A scenario's `pools`, checked, each given the uids its sessions' flows take: from 65535
// down, in the order of the pools. `modules` are the switch's at the start (ascending).
std::vector<Pool> readPools(const Values::Json& value, const std::vector<uint16_t>& modules);

}  // namespace Simulator

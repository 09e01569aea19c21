#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "platform/switch/chip/simulated_chip.h"

namespace Simulator {

// One NAT field entry of a unit, as the chip holds it.
struct ChipEntry {
   uint32_t id = 0;
   uint16_t vlan = 0;    // the L3 ingress interface it matches; 0 for any
   bool staged = false;  // in no TCAM slot yet: it becomes active at the flash download
   uint64_t hits = 0;
};

// A unit's entries by the uid their actions tag packets with (0: none), in entry-id order.
// Read from the chip alone, so it shows what traffic meets whatever the agent believes.
using ChipEntriesByUid = std::map<uint32_t, std::vector<ChipEntry>>;
ChipEntriesByUid chipEntriesByUid(::Chip::SimulatedChip& chip, uint16_t module,
                                  uint32_t natEntries);

}  // namespace Simulator

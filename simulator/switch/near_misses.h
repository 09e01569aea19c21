#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/switch/chip/simulated_chip.h"

namespace Simulator {

// An entry a packet did not match: how many of its fields the packet misses, and the first of
// them in the order an engineer checks (VLAN, protocol, addresses, ports, TCP flags,
// fragment), with the packet's value and what the entry takes.
struct NearMiss {
   uint32_t entry = 0;
   uint32_t uid = 0;  // 0: the entry tags no uid
   std::size_t fieldsMissed = 0;
   std::string field;
   std::string packetValue;
   std::string entryValue;
};

// Why `packet` hit nothing on the module: the `most` entries in the TCAM that it misses in the
// fewest fields, fewest first, then by entry id. Read from the chip alone.
std::vector<NearMiss> nearMisses(::Chip::SimulatedChip& chip, uint16_t module, uint32_t natEntries,
                                 const ::Chip::Packet& packet, std::size_t most = 3);

// "entry 2 uid 7 misses 1 field, VLAN: the packet has 30, the entry takes 10".
std::string nearMissText(const NearMiss& miss);

}  // namespace Simulator

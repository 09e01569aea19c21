#pragma once

#include "control_plane/nat_control_plane.h"
#include "platform/switch/chip/packet.h"
#include "simulator/scenario/scenario.h"

namespace Simulator {

// A scenario rule as the control plane publishes it: its keys, the base key's data (VLANs,
// next hop, key count) and each later key's own filter and protocol.
ControlPlane::NatRule natRuleOf(const Rule& rule);

// A scenario packet as the chip classifies it.
::Chip::Packet chipPacketOf(const Packet& packet);

// What a packet must look like to hit the rule's default entry on `vlan` (0 for a source
// rule): its old addresses and ports, the rule's protocol (TCP when it has none).
Packet packetFor(const Rule& rule, uint16_t module, uint16_t vlan);

}  // namespace Simulator

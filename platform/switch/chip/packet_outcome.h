#pragma once

#include <optional>

#include "platform/framework/kiv/types.h"
#include "platform/switch/chip/action_list.h"
#include "platform/switch/chip/packet.h"
#include "platform/switch/chip/port_translation.h"

namespace Chip {

enum class Forwarding { unchanged, drop, l3Switch };

// What the chip does to a packet after its field-processor lookup, by the hit entry's actions:
// the uid tag it gives the packet, where it sends it, and which of its addresses and ports the
// translation stage rewrites. The new values come from the NAT lookup, which is not simulated:
// the outcome says which parts change, not what they become.
struct PacketOutcome {
   struct Rewritten {
      bool srcIp = false;
      bool dstIp = false;
      bool srcPort = false;
      bool dstPort = false;

      bool operator==(const Rewritten&) const = default;
   };

   Rewritten rewritten;
   std::optional<U32> uid;  // the OpaqueObject1 tag; none when the entry assigns none
   Forwarding forwarding = Forwarding::unchanged;
   U32 egressObject = 0;  // where an L3 switch sends the packet; 0 for other forwarding

   bool operator==(const PacketOutcome&) const = default;
};

// The outcome for `packet` of a hit on an entry with `actions`. The entry's extraction-control
// id picks a translation profile, which says the sides whose address is rewritten and whether
// their ports are too; a port is rewritten only while `translation` has port translation
// switched on, in its control register for the packet's protocol (TCP or UDP) and in the
// profile's entry of the packet's pipe's copy of the profile memory. A non-first fragment
// carries no ports to rewrite. Reads `translation` only, as its own reads do: beside a writer,
// the register and the entry are each seen whole, though a write may fall between the two.
// The packet's pipe must be one the block has (fatal otherwise).
PacketOutcome packetOutcome(const Packet& packet, const ActionList& actions,
                            const PortTranslation& translation);

}  // namespace Chip

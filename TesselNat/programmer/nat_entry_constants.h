#pragma once

#include "platform/framework/kiv/types.h"
#include "platform/switch/tcam/tcam_group_assignment.h"

namespace Tessel {

// Every NAT field entry lives in this TCAM group and is asked for under this name.
inline constexpr TcamGroupAssignment natTcamGroupAssignment = 145;
inline constexpr const char* natTcamEntryName = "NAT";

// Masks of the field-entry qualifiers and actions.
inline constexpr U8 TCAM_FIELD_IPPROTO_MASK = 0xFF;
inline constexpr U8 TCAM_FIELD_TCP_CONTROL_MASK = 7;  // FIN, SYN and RST

inline constexpr U8 ipProtocolTcp = 6;

// A next hop of 0 drops translated packets; all ones leaves forwarding alone; any other value
// is a next-hop id, a multipath group when bit 27 is set.
inline constexpr U64 nextHopDrop = 0;
inline constexpr U64 nextHopUnchanged = ~U64{0};
inline constexpr U64 nextHopMultipathFlag = 0x8000000;

}  // namespace Tessel

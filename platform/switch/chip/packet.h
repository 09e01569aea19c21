#pragma once

#include "platform/framework/kiv/types.h"

namespace Chip {

enum class FragmentState { notFragment, firstFragment, nonFirstFragment };

// TCP control flags as a packet carries them.
inline constexpr U8 tcpFin = 0x01;
inline constexpr U8 tcpSyn = 0x02;
inline constexpr U8 tcpRst = 0x04;
inline constexpr U8 tcpAck = 0x10;

// The header fields of an IPv4 packet that the ingress field processor looks at. Addresses are
// host order. A non-first fragment carries no L4 header: its ports and TCP flags are not read.
struct Packet {
   U16 l3Ingress = 0;  // the ingress L3 interface (VLAN id)
   U32 srcIp = 0;
   U32 dstIp = 0;
   U16 srcPort = 0;
   U16 dstPort = 0;
   U8 ipProtocol = 0;
   FragmentState fragment = FragmentState::notFragment;
   U8 tcpFlags = 0;  // 0 for a packet that is not TCP
   // The pipe the packet enters by: it meets that pipe's copy of the port translation memory.
   U8 pipe = 0;
};

}  // namespace Chip

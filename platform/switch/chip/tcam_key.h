#pragma once

#include <array>
#include <cstddef>

#include "platform/framework/kiv/types.h"
#include "platform/switch/chip/bit_field.h"
#include "platform/switch/chip/packet.h"

namespace Chip {

// The fields of the ingress TCAM key. The first eight are the qualifiers an SDK caller writes;
// the last two are filled by the chip: whether the packet has an L4 header (every entry with a
// port qualifier requires it) and a valid bit (set in every packet key, required by every
// installed row, so an empty slot never matches).
enum class KeyField {
   srcIp,
   dstIp,
   l4SrcPort,
   l4DstPort,
   l3Ingress,
   ipProtocol,
   ipFrag,
   tcpControl,
   l4HeaderPresent,
   entryValid,
};
inline constexpr std::size_t qualifierCount = 8;

// Bits of the ipFrag field.
inline constexpr U64 fragIsFragment = 0x1;
inline constexpr U64 fragIsNonFirst = 0x2;

// Where a field sits in the 128-bit key.
struct KeyFieldPosition {
   U32 word;
   BitField bits;
};

// Key layout (word 0 = key bits 63..0, word 1 = key bits 127..64):
//    word 0: srcIp [31:0], dstIp [63:32]
//    word 1: l4SrcPort [15:0], l4DstPort [31:16], l3Ingress [44:32], ipProtocol [52:45],
//            ipFrag [54:53], tcpControl [60:55], l4HeaderPresent [61], entryValid [62]
// Widths are the widths hardware stores: 32, 32, 16, 16, 13, 8, 2, 6, 1, 1.
KeyFieldPosition keyFieldPosition(KeyField field);

// A key value, or a row's data or mask.
struct TcamKey {
   std::array<U64, 2> words{};

   U64 field(KeyField field) const;
   // `value` must fit the field (fatal otherwise).
   void fieldIs(KeyField field, U64 value);
};

// The key the parser builds for `packet`. A non-first fragment has no L4 header: its port and
// TCP flag fields are zero and l4HeaderPresent is clear. Fields wider than the key's are cut to
// the key's width (an L3 interface above 8191 aliases).
TcamKey keyOf(const Packet& packet);

}  // namespace Chip

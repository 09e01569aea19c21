#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "platform/framework/kiv/types.h"
#include "platform/segment/tear_free.h"
#include "platform/switch/chip/bit_field.h"
#include "platform/switch/sdk/sdk_constants.h"

namespace Chip {

// The L4 port translation block of one unit: the control register L4_XLATE_CTRLr and the
// translation profile memory L4_XLATE_PROFILEm.
//
// L4_XLATE_CTRLr, 32 bits; the bits not listed belong to other features and must survive a
// read-modify-write:
//    [1:0] TCP_PORT_MODEf     [3:2] UDP_PORT_MODEf     [5:4] ICMP_ID_MODEf
//    [8] TCP_CSUM_UPDATEf     [9] UDP_CSUM_UPDATEf     [10] IP_CSUM_UPDATEf
//    [13:12] FRAG_MODEf       [17:16] PORT_SELECTf     [20] L4_XLATE_ENABLEf
// L4_XLATE_PROFILEm, 64 entries of 3 words; only XLATE_MODEf, word 1 bits [9:8], is ours; the
// other bits of an entry belong to other features and must survive. Every pipe holds its own
// copy of the memory: a write with MEM_BLOCK_ALL writes every copy, one with MEM_BLOCK_ANY the
// first pipe's only; a read with MEM_BLOCK_ANY reads the first pipe's copy, and a read with
// MEM_BLOCK_ALL names no one copy and is refused.
//
// The operations serve the SDK calls and return Shim::successCode or a negative SdkError code:
// an unknown register or memory, a port other than REG_PORT_ANY, a register index other than 0,
// a block other than those above, an entry index out of range or a buffer shorter than an
// entry is an invalid parameter.
//
// The state lives in the switch segment and a PortTranslation is a view of it, as
// FieldProcessor is: one writer, readers in any process that see the register and each copy of
// a profile entry whole; memory of zeros is a block with every register and entry zero.
class PortTranslation {
public:
   static constexpr U32 profileEntries = 64;
   static constexpr U32 profileEntryWords = 3;
   using ProfileEntry = std::array<U32, profileEntryWords>;

   // The bytes of segment memory the block takes with `pipes` copies of the profile memory.
   static std::size_t bytes(U8 pipes);
   // The block laid out at `memory`, which holds bytes(pipes) and outlives the view; at least
   // one copy of the profile memory, whatever `pipes` says.
   PortTranslation(std::byte* memory, U8 pipes);

   // Zeroes the register and every entry of every copy.
   void doClear();

   S32 registerGet(S32 reg, S32 port, S32 index, U32* value) const;
   S32 registerSet(S32 reg, S32 port, S32 index, U32 value);
   // Reads the entry into the first profileEntryWords words of `buffer`; the rest is untouched.
   S32 memoryRead(S32 mem, S32 block, S32 index, std::span<U32> buffer) const;
   S32 memoryWrite(S32 mem, S32 block, S32 index, std::span<const U32> buffer);

   // The SDK's field setters: change the caller's copy only. An unknown register, memory or
   // field, a value wider than the field or a buffer shorter than an entry is fatal.
   static void registerFieldSet(S32 reg, U32* value, S32 field, U32 fieldValue);
   static void memoryFieldSet(S32 mem, std::span<U32> buffer, S32 field, U32 fieldValue);
   // The hardware's reads of what the setters write: one field of a register value (a field
   // of L4_XLATE_CTRLr, fatal otherwise) and the XLATE_MODEf field of a profile entry.
   static U32 controlField(U32 control, Shim::SocField field);
   static U32 xlateMode(const ProfileEntry& entry);

   // Direct access for tests and scenarios, bypassing the SDK (index below profileEntries, pipe
   // below the pipe count, fatal otherwise). profileIs sets the entry in every pipe's copy.
   U32 control() const { return Segment::atomicLoad(*control_); }
   void controlIs(U32 value) { Segment::atomicStore(*control_, value); }
   ProfileEntry profile(U8 pipe, U32 index) const;
   void profileIs(U32 index, const ProfileEntry& entry);

private:
   Segment::TearFree<ProfileEntry>& entryOf(U8 pipe, U32 index) const;

   U8 copies_;
   std::size_t extent_;  // the bytes the layout takes
   U32* control_;
   // One copy of the profile memory per pipe, pipe after pipe.
   Segment::TearFree<ProfileEntry>* profiles_;
};

}  // namespace Chip

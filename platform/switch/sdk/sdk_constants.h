#pragma once

#include "platform/framework/kiv/types.h"

// The SDK's enumeration values and hardware object ids. Only the shim and a chip behind it use
// these names; callers above the shim ask the shim's constant accessors, so that none of these
// values is compiled into them.
namespace Shim {

enum class FieldAction : S32 {
   drop = 10,
   dropCancel = 11,
   copyToCpuCancel = 12,
   l3Switch = 13,
   assignOpaqueObject1 = 14,
   assignExtractionCtrlId = 15,
};
inline constexpr U32 fieldActionKinds = 6;

// Which IP fragments an entry's fragment qualifier admits.
enum class FieldIpFrag : S32 {
   notFragment = 40,
   firstFragment = 41,
   nonFirstFragment = 42,
   anyFragment = 43,
};

// Register and memory addressing.
inline constexpr S32 regPortAny = -10;
inline constexpr S32 memBlockAny = -11;
inline constexpr S32 memBlockAll = -12;
inline constexpr U32 maxMemoryEntryWords = 4;

// The L4 port translation control register, its fields, and the per-profile translation memory
// with its mode field. Field ids share one space across registers and memories.
enum class SocReg : S32 {
   l4XlateCtrl = 4001,
};

enum class SocMem : S32 {
   l4XlateProfile = 6001,
};

enum class SocField : S32 {
   tcpPortMode = 5001,
   udpPortMode = 5002,
   icmpIdMode = 5003,
   tcpChecksumUpdate = 5004,
   udpChecksumUpdate = 5005,
   ipChecksumUpdate = 5006,
   fragmentMode = 5007,
   portSelect = 5008,
   l4XlateEnable = 5009,
   xlateMode = 5101,
};

}  // namespace Shim

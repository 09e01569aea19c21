#include "platform/switch/chip/port_translation.h"

#include <algorithm>
#include <optional>

#include "platform/framework/kiv/assert.h"
#include "platform/switch/sdk/return_code.h"
#include "platform/switch/sdk/sdk_constants.h"

namespace Chip {
namespace {

using Shim::SdkError;
using Shim::SocField;

struct NamedField {
   SocField field;
   BitField bits;
};

constexpr std::array<NamedField, 9> controlLayout{{
    {SocField::tcpPortMode, {0, 2}},
    {SocField::udpPortMode, {2, 2}},
    {SocField::icmpIdMode, {4, 2}},
    {SocField::tcpChecksumUpdate, {8, 1}},
    {SocField::udpChecksumUpdate, {9, 1}},
    {SocField::ipChecksumUpdate, {10, 1}},
    {SocField::fragmentMode, {12, 2}},
    {SocField::portSelect, {16, 2}},
    {SocField::l4XlateEnable, {20, 1}},
}};

constexpr U32 xlateModeWord = 1;
constexpr BitField xlateModeBits{8, 2};

bool isControlRegister(S32 reg) { return reg == static_cast<S32>(Shim::SocReg::l4XlateCtrl); }

bool isProfileMemory(S32 mem) { return mem == static_cast<S32>(Shim::SocMem::l4XlateProfile); }

std::optional<BitField> controlField(S32 field) {
   for (const NamedField& named : controlLayout) {
      if (static_cast<S32>(named.field) == field) return named.bits;
   }
   return std::nullopt;
}

bool validMemoryAccess(S32 mem, S32 index, std::size_t bufferWords) {
   return isProfileMemory(mem) && index >= 0 &&
          static_cast<U32>(index) < PortTranslation::profileEntries &&
          bufferWords >= PortTranslation::profileEntryWords;
}

}  // namespace

PortTranslation::PortTranslation(U8 pipes)
    : profiles_(std::max<U8>(pipes, 1), std::vector<ProfileEntry>(profileEntries)) {}

void PortTranslation::profileIs(U32 index, const ProfileEntry& entry) {
   for (std::vector<ProfileEntry>& copy : profiles_) copy.at(index) = entry;
}

S32 PortTranslation::registerGet(S32 reg, S32 port, S32 index, U32* value) const {
   if (!isControlRegister(reg) || port != Shim::regPortAny || index != 0) {
      return code(SdkError::invalidParameter);
   }
   *value = control_;
   return Shim::successCode;
}

S32 PortTranslation::registerSet(S32 reg, S32 port, S32 index, U32 value) {
   if (!isControlRegister(reg) || port != Shim::regPortAny || index != 0) {
      return code(SdkError::invalidParameter);
   }
   control_ = value;
   return Shim::successCode;
}

S32 PortTranslation::memoryRead(S32 mem, S32 block, S32 index, std::span<U32> buffer) const {
   if (!validMemoryAccess(mem, index, buffer.size()) || block != Shim::memBlockAny) {
      return code(SdkError::invalidParameter);
   }
   const ProfileEntry& entry = profiles_.front()[static_cast<U32>(index)];
   std::copy(entry.begin(), entry.end(), buffer.begin());
   return Shim::successCode;
}

S32 PortTranslation::memoryWrite(S32 mem, S32 block, S32 index, std::span<const U32> buffer) {
   if (!validMemoryAccess(mem, index, buffer.size()) ||
       (block != Shim::memBlockAny && block != Shim::memBlockAll)) {
      return code(SdkError::invalidParameter);
   }
   const std::size_t copies = block == Shim::memBlockAll ? profiles_.size() : 1;
   for (std::size_t pipe = 0; pipe < copies; ++pipe) {
      ProfileEntry& entry = profiles_[pipe][static_cast<U32>(index)];
      std::copy_n(buffer.begin(), profileEntryWords, entry.begin());
   }
   return Shim::successCode;
}

void PortTranslation::registerFieldSet(S32 reg, U32* value, S32 field, U32 fieldValue) {
   KIV_ASSERT( isControlRegister(reg) );
   const std::optional<BitField> bits = controlField(field);
   KIV_ASSERT( bits && bits->fits(fieldValue) );
   *value = bits->inserted(*value, fieldValue);
}

void PortTranslation::memoryFieldSet(S32 mem, std::span<U32> buffer, S32 field, U32 fieldValue) {
   KIV_ASSERT( isProfileMemory(mem) && buffer.size() >= profileEntryWords );
   KIV_ASSERT( field == static_cast<S32>(SocField::xlateMode) && xlateModeBits.fits(fieldValue) );
   buffer[xlateModeWord] = xlateModeBits.inserted(buffer[xlateModeWord], fieldValue);
}

}  // namespace Chip

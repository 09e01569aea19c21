#include "platform/switch/chip/port_translation.h"

#include <algorithm>
#include <optional>

#include "platform/framework/kiv/assert.h"
#include "platform/switch/chip/memory_layout.h"
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

std::optional<BitField> controlFieldBits(S32 field) {
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

std::size_t PortTranslation::bytes(U8 pipes) { return PortTranslation(nullptr, pipes).extent_; }

PortTranslation::PortTranslation(std::byte* memory, U8 pipes) : copies_(std::max<U8>(pipes, 1)) {
   MemoryLayout layout(memory);
   control_ = layout.take<U32>(1);
   profiles_ = layout.take<Segment::TearFree<ProfileEntry>>(std::size_t{copies_} * profileEntries);
   extent_ = layout.bytes();
}

void PortTranslation::doClear() {
   controlIs(0);
   for (std::size_t index = 0; index < std::size_t{copies_} * profileEntries; ++index) {
      if (profiles_[index].current() != ProfileEntry{}) profiles_[index].write(ProfileEntry{});
   }
}

Segment::TearFree<PortTranslation::ProfileEntry>& PortTranslation::entryOf(U8 pipe,
                                                                           U32 index) const {
   KIV_ASSERT( pipe < copies_ && index < profileEntries );
   return profiles_[std::size_t{pipe} * profileEntries + index];
}

PortTranslation::ProfileEntry PortTranslation::profile(U8 pipe, U32 index) const {
   return entryOf(pipe, index).read();
}

void PortTranslation::profileIs(U32 index, const ProfileEntry& entry) {
   for (U8 pipe = 0; pipe < copies_; ++pipe) entryOf(pipe, index).write(entry);
}

S32 PortTranslation::registerGet(S32 reg, S32 port, S32 index, U32* value) const {
   if (!isControlRegister(reg) || port != Shim::regPortAny || index != 0) {
      return code(SdkError::invalidParameter);
   }
   *value = control();
   return Shim::successCode;
}

S32 PortTranslation::registerSet(S32 reg, S32 port, S32 index, U32 value) {
   if (!isControlRegister(reg) || port != Shim::regPortAny || index != 0) {
      return code(SdkError::invalidParameter);
   }
   controlIs(value);
   return Shim::successCode;
}

S32 PortTranslation::memoryRead(S32 mem, S32 block, S32 index, std::span<U32> buffer) const {
   if (!validMemoryAccess(mem, index, buffer.size()) || block != Shim::memBlockAny) {
      return code(SdkError::invalidParameter);
   }
   const ProfileEntry entry = profile(0, static_cast<U32>(index));
   std::copy(entry.begin(), entry.end(), buffer.begin());
   return Shim::successCode;
}

S32 PortTranslation::memoryWrite(S32 mem, S32 block, S32 index, std::span<const U32> buffer) {
   if (!validMemoryAccess(mem, index, buffer.size()) ||
       (block != Shim::memBlockAny && block != Shim::memBlockAll)) {
      return code(SdkError::invalidParameter);
   }
   ProfileEntry entry;
   std::copy_n(buffer.begin(), profileEntryWords, entry.begin());
   const U8 copies = block == Shim::memBlockAll ? copies_ : 1;
   for (U8 pipe = 0; pipe < copies; ++pipe) entryOf(pipe, static_cast<U32>(index)).write(entry);
   return Shim::successCode;
}

void PortTranslation::registerFieldSet(S32 reg, U32* value, S32 field, U32 fieldValue) {
   KIV_ASSERT( isControlRegister(reg) );
   const std::optional<BitField> bits = controlFieldBits(field);
   KIV_ASSERT( bits && bits->fits(fieldValue) );
   *value = bits->inserted(*value, fieldValue);
}

void PortTranslation::memoryFieldSet(S32 mem, std::span<U32> buffer, S32 field, U32 fieldValue) {
   KIV_ASSERT( isProfileMemory(mem) && buffer.size() >= profileEntryWords );
   KIV_ASSERT( field == static_cast<S32>(SocField::xlateMode) && xlateModeBits.fits(fieldValue) );
   buffer[xlateModeWord] = xlateModeBits.inserted(buffer[xlateModeWord], fieldValue);
}

U32 PortTranslation::controlField(U32 control, SocField field) {
   const std::optional<BitField> bits = controlFieldBits(static_cast<S32>(field));
   KIV_ASSERT( bits );
   return bits->extract(control);
}

U32 PortTranslation::xlateMode(const ProfileEntry& entry) {
   return xlateModeBits.extract(entry[xlateModeWord]);
}

}  // namespace Chip

#include "platform/switch/chip/simulated_chip.h"

#include <algorithm>

#include "platform/framework/kiv/assert.h"
#include "platform/switch/sdk/return_code.h"
#include "platform/switch/sdk/sdk_constants.h"

namespace Chip {
namespace {

using Shim::FieldIpFrag;
using Shim::SdkError;

// The key bits (data, mask) of the ipFrag field for an SDK fragment state.
std::optional<QualifierValue> fragmentQualifier(S32 fragState) {
   constexpr U32 fragment = fragIsFragment;
   constexpr U32 nonFirst = fragIsNonFirst;
   switch (static_cast<FieldIpFrag>(fragState)) {
      case FieldIpFrag::notFragment:
         return QualifierValue{0, fragment};
      case FieldIpFrag::firstFragment:
         return QualifierValue{fragment, fragment | nonFirst};
      case FieldIpFrag::nonFirstFragment:
         return QualifierValue{fragment | nonFirst, fragment | nonFirst};
      case FieldIpFrag::anyFragment:
         return QualifierValue{fragment, fragment};
   }
   return std::nullopt;
}

}  // namespace

struct SimulatedChip::Unit {
   Unit(U32 slots, U8 pipes) : fields(slots), portTranslation(pipes) {}

   FieldProcessor fields;
   PortTranslation portTranslation;
};

SimulatedChip::SimulatedChip(Config config) : config_(config), units_(config.unitCount) {}

SimulatedChip::~SimulatedChip() = default;

SimulatedChip::Unit& SimulatedChip::stateOf(U32 unit) {
   std::unique_ptr<Unit>& state = units_[unit];
   if (!state) state = std::make_unique<Unit>(config_.tcamSlotsPerUnit, config_.pipes);
   return *state;
}

template <class Body>
S32 SimulatedChip::onUnit(S32 unit, Body&& body) {
   const std::lock_guard<std::mutex> hold(mutex_);
   if (unit < 0 || static_cast<U32>(unit) >= config_.unitCount) {
      return code(SdkError::invalidUnit);
   }
   return body(stateOf(static_cast<U32>(unit)));
}

template <class Body>
auto SimulatedChip::peekUnit(S32 unit, Body&& body) {
   const std::lock_guard<std::mutex> hold(mutex_);
   KIV_ASSERT( unit >= 0 && static_cast<U32>(unit) < config_.unitCount );
   return body(stateOf(static_cast<U32>(unit)));
}

S32 SimulatedChip::qualifierIs(S32 unit, U32 entry, KeyField field, U32 data, U32 mask) {
   return onUnit(unit,
                 [&](Unit& state) { return state.fields.qualifierIs(entry, field, data, mask); });
}

S32 SimulatedChip::qualifierGet(S32 unit, U32 entry, KeyField field, U32* data, U32* mask) {
   return onUnit(unit, [&](Unit& state) {
      QualifierValue value{};
      const S32 rc = state.fields.qualifierGet(entry, field, &value);
      if (rc == Shim::successCode) {
         *data = value.data;
         *mask = value.mask;
      }
      return rc;
   });
}

S32 SimulatedChip::bcm_field_qualify_SrcIp(S32 unit, U32 entry, U32 data, U32 mask) {
   return qualifierIs(unit, entry, KeyField::srcIp, data, mask);
}

S32 SimulatedChip::bcm_field_qualify_DstIp(S32 unit, U32 entry, U32 data, U32 mask) {
   return qualifierIs(unit, entry, KeyField::dstIp, data, mask);
}

S32 SimulatedChip::bcm_field_qualify_L4SrcPort(S32 unit, U32 entry, U32 data, U32 mask) {
   return qualifierIs(unit, entry, KeyField::l4SrcPort, data, mask);
}

S32 SimulatedChip::bcm_field_qualify_L4DstPort(S32 unit, U32 entry, U32 data, U32 mask) {
   return qualifierIs(unit, entry, KeyField::l4DstPort, data, mask);
}

S32 SimulatedChip::bcm_field_qualify_L3Ingress(S32 unit, U32 entry, U32 data, U32 mask) {
   return qualifierIs(unit, entry, KeyField::l3Ingress, data, mask);
}

S32 SimulatedChip::bcm_field_qualify_IpProtocol(S32 unit, U32 entry, U8 data, U8 mask) {
   return qualifierIs(unit, entry, KeyField::ipProtocol, data, mask);
}

S32 SimulatedChip::bcm_field_qualify_IpFrag(S32 unit, U32 entry, S32 fragState) {
   const std::optional<QualifierValue> bits = fragmentQualifier(fragState);
   if (!bits) return code(SdkError::invalidParameter);
   return qualifierIs(unit, entry, KeyField::ipFrag, bits->data, bits->mask);
}

S32 SimulatedChip::bcm_field_qualify_TcpControl(S32 unit, U32 entry, U8 data, U8 mask) {
   return qualifierIs(unit, entry, KeyField::tcpControl, data, mask);
}

S32 SimulatedChip::bcm_field_action_remove_all(S32 unit, U32 entry) {
   return onUnit(unit, [&](Unit& state) { return state.fields.actionDelAll(entry); });
}

S32 SimulatedChip::bcm_field_action_add(S32 unit, U32 entry, S32 action, U32 param0, U32 param1) {
   return onUnit(unit, [&](Unit& state) {
      return state.fields.actionIs(entry, FieldActionValue{action, param0, param1});
   });
}

S32 SimulatedChip::bcm_field_qualify_SrcIp_get(S32 unit, U32 entry, U32* data, U32* mask) {
   return qualifierGet(unit, entry, KeyField::srcIp, data, mask);
}

S32 SimulatedChip::bcm_field_qualify_DstIp_get(S32 unit, U32 entry, U32* data, U32* mask) {
   return qualifierGet(unit, entry, KeyField::dstIp, data, mask);
}

S32 SimulatedChip::bcm_field_qualify_L4SrcPort_get(S32 unit, U32 entry, U32* data, U32* mask) {
   return qualifierGet(unit, entry, KeyField::l4SrcPort, data, mask);
}

S32 SimulatedChip::bcm_field_qualify_L4DstPort_get(S32 unit, U32 entry, U32* data, U32* mask) {
   return qualifierGet(unit, entry, KeyField::l4DstPort, data, mask);
}

S32 SimulatedChip::bcm_field_qualify_L3Ingress_get(S32 unit, U32 entry, U32* data, U32* mask) {
   return qualifierGet(unit, entry, KeyField::l3Ingress, data, mask);
}

S32 SimulatedChip::bcm_field_qualify_IpProtocol_get(S32 unit, U32 entry, U8* data, U8* mask) {
   U32 wideData = 0;
   U32 wideMask = 0;
   const S32 rc = qualifierGet(unit, entry, KeyField::ipProtocol, &wideData, &wideMask);
   if (rc == Shim::successCode) {
      *data = static_cast<U8>(wideData);
      *mask = static_cast<U8>(wideMask);
   }
   return rc;
}

S32 SimulatedChip::bcm_field_entry_create_at(S32 unit, S32 group, U32 entry, U32 slot) {
   return onUnit(unit, [&](Unit& state) { return state.fields.entryCreate(group, entry, slot); });
}

S32 SimulatedChip::bcm_field_entry_destroy(S32 unit, U32 entry) {
   return onUnit(unit, [&](Unit& state) { return state.fields.entryDestroy(entry); });
}

S32 SimulatedChip::bcm_field_entry_install(S32 unit, U32 entry) {
   return onUnit(unit, [&](Unit& state) { return state.fields.entryInstall(entry); });
}

// The TCAM has no separate update path: a reinstall writes the whole row again.
S32 SimulatedChip::bcm_field_entry_reinstall(S32 unit, U32 entry) {
   return onUnit(unit, [&](Unit& state) { return state.fields.entryInstall(entry); });
}

S32 SimulatedChip::bcm_field_entry_prio_set(S32 unit, U32 entry, S32 priority) {
   return onUnit(unit, [&](Unit& state) { return state.fields.priorityIs(entry, priority); });
}

S32 SimulatedChip::bcm_field_entry_create(S32 unit, S32 group, U32 entry) {
   return onUnit(unit, [&](Unit& state) { return state.fields.entryCreateUnplaced(group, entry); });
}

S32 SimulatedChip::bcm_field_entry_multi_get(S32 unit, S32 group, std::span<U32> entries,
                                             U32* count) {
   return onUnit(unit, [&](Unit& state) {
      const std::vector<U32> ids = state.fields.groupEntries(group);
      std::copy_n(ids.begin(), std::min(ids.size(), entries.size()), entries.begin());
      *count = static_cast<U32>(ids.size());
      return Shim::successCode;
   });
}

S32 SimulatedChip::bcm_field_group_flash(S32 unit, S32 group, U32 firstSlot,
                                         std::span<U32> entries) {
   return onUnit(unit,
                 [&](Unit& state) { return state.fields.groupFlash(group, firstSlot, entries); });
}

S32 SimulatedChip::soc_reg32_get(S32 unit, S32 reg, S32 port, S32 index, U32* value) {
   return onUnit(unit, [&](Unit& state) {
      return state.portTranslation.registerGet(reg, port, index, value);
   });
}

S32 SimulatedChip::soc_reg32_set(S32 unit, S32 reg, S32 port, S32 index, U32 value) {
   return onUnit(unit, [&](Unit& state) {
      return state.portTranslation.registerSet(reg, port, index, value);
   });
}

// Layouts are the same on every unit, so the unit plays no part.
void SimulatedChip::soc_reg_field32_set(S32, S32 reg, U32* value, S32 field, U32 fieldValue) {
   PortTranslation::registerFieldSet(reg, value, field, fieldValue);
}

S32 SimulatedChip::soc_mem_read(S32 unit, S32 mem, S32 block, S32 index, std::span<U32> entry) {
   return onUnit(unit, [&](Unit& state) {
      return state.portTranslation.memoryRead(mem, block, index, entry);
   });
}

S32 SimulatedChip::soc_mem_write(S32 unit, S32 mem, S32 block, S32 index,
                                 std::span<const U32> entry) {
   return onUnit(unit, [&](Unit& state) {
      return state.portTranslation.memoryWrite(mem, block, index, entry);
   });
}

void SimulatedChip::soc_mem_field32_set(S32, S32 mem, std::span<U32> entry, S32 field,
                                        U32 fieldValue) {
   PortTranslation::memoryFieldSet(mem, entry, field, fieldValue);
}

std::optional<Match> SimulatedChip::classify(S32 unit, const Packet& packet) {
   return peekUnit(unit, [&](Unit& state) { return state.fields.classify(packet); });
}

U64 SimulatedChip::hitCount(S32 unit, U32 entry) {
   return peekUnit(unit, [&](Unit& state) { return state.fields.hitCount(entry); });
}

std::optional<FieldEntry> SimulatedChip::entry(S32 unit, U32 entryId) {
   return peekUnit(unit, [&](Unit& state) -> std::optional<FieldEntry> {
      const FieldEntry* found = state.fields.entry(entryId);
      if (!found) return std::nullopt;
      return *found;
   });
}

std::size_t SimulatedChip::entryCount(S32 unit) {
   return peekUnit(unit, [&](Unit& state) { return state.fields.entryCount(); });
}

std::optional<SimulatedChip::HardwareCopy> SimulatedChip::entryAtHardwareIndex(S32 unit,
                                                                               U32 index) {
   return peekUnit(unit, [&](Unit& state) -> std::optional<HardwareCopy> {
      const U32 slots = state.fields.slotCount();
      const U32 replica = index / slots;
      if (replica >= U32{config_.pipes} * config_.copiesPerPipe) return std::nullopt;
      const U32 entryId = state.fields.entryInSlot(index % slots);
      if (entryId == 0) return std::nullopt;
      return HardwareCopy{entryId, static_cast<U8>(replica / config_.copiesPerPipe),
                          static_cast<U8>(replica % config_.copiesPerPipe)};
   });
}

void SimulatedChip::doReset() {
   const std::lock_guard<std::mutex> hold(mutex_);
   for (std::unique_ptr<Unit>& state : units_) state.reset();
}

void SimulatedChip::doUnitReset(S32 unit) {
   const std::lock_guard<std::mutex> hold(mutex_);
   KIV_ASSERT( unit >= 0 && static_cast<std::size_t>(unit) < units_.size() );
   units_[static_cast<std::size_t>(unit)].reset();
}

void SimulatedChip::doSessionEnd() {
   const std::lock_guard<std::mutex> hold(mutex_);
   for (std::unique_ptr<Unit>& state : units_) {
      if (state) state->fields.unplacedEntriesDel();
   }
}

U32 SimulatedChip::portTranslationControl(S32 unit) {
   return peekUnit(unit, [&](Unit& state) { return state.portTranslation.control(); });
}

void SimulatedChip::portTranslationControlIs(S32 unit, U32 value) {
   peekUnit(unit, [&](Unit& state) { state.portTranslation.controlIs(value); });
}

PortTranslation::ProfileEntry SimulatedChip::portTranslationProfile(S32 unit, U8 pipe, U32 index) {
   return peekUnit(unit, [&](Unit& state) { return state.portTranslation.profile(pipe, index); });
}

void SimulatedChip::portTranslationProfileIs(S32 unit, U32 index,
                                             const PortTranslation::ProfileEntry& entry) {
   peekUnit(unit, [&](Unit& state) { state.portTranslation.profileIs(index, entry); });
}

}  // namespace Chip

#include "platform/switch/chip/simulated_chip.h"

#include <algorithm>
#include <array>
#include <atomic>

#include "platform/framework/kiv/assert.h"
#include "platform/framework/kiv/errors.h"
#include "platform/framework/kiv/string.h"
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

// The chip as the segment holds it. Each unit's state is laid out in a block of its own,
// page-aligned, all blocks taken when the chip is made; memory of zeros is an empty unit, so a
// unit is built by zeroing its block. The block is then given all its memory at once, as a
// chip's tables are there before the SDK's first call: a first write to a page of them would
// otherwise wait for the system, and the agent's commits, a warm start's new entries above
// all, would be timed with the simulation's page faults.
struct SimulatedChip::State {
   State(const Config& chip, Segment::SwitchSegment& segment)
       : config(chip),
         unitBytes(unitBytesOf(chip)),
         unitsOffset(
             segment.allocate(chip.unitCount * unitBytes, Segment::SwitchSegment::pageBytes())) {}

   static std::size_t unitBytesOf(const Config& chip) {
      const std::size_t page = Segment::SwitchSegment::pageBytes();
      const std::size_t bytes =
          FieldProcessor::bytes(chip.tcamSlotsPerUnit) + PortTranslation::bytes(chip.pipes);
      return (bytes + page - 1) / page * page;
   }

   const Config config;
   const U64 unitBytes;
   const U64 unitsOffset;  // from the segment's base
   // Set, with release order, once a unit's state is whole.
   std::array<std::atomic<U32>, maxUnits> unitBuilt{};
   // Set while the unit's line card is out: the SDK finds no such unit.
   std::array<std::atomic<U32>, maxUnits> unitGone{};
};

struct SimulatedChip::Unit {
   Unit(std::byte* memory, const Config& config)
       : fields(memory, config.tcamSlotsPerUnit),
         portTranslation(memory + FieldProcessor::bytes(config.tcamSlotsPerUnit), config.pipes) {}

   FieldProcessor fields;
   PortTranslation portTranslation;
};

namespace {

Kiv::String configText(const SimulatedChip::Config& config) {
   return Kiv::format("%u units of %u slots, %u pipes of %u copies", config.unitCount,
                      config.tcamSlotsPerUnit, unsigned{config.pipes},
                      unsigned{config.copiesPerPipe});
}

}  // namespace

SimulatedChip::State& SimulatedChip::stateIn(Segment::SwitchSegment& segment,
                                             const Config& config) {
   KIV_ASSERT( config.unitCount <= maxUnits );
   State& state = segment.findOrConstruct<State>("chip", config, segment);
   if (!(state.config == config)) {
      throw Kiv::NameInUseException("the chip in " + segment.name() + " has " +
                                    configText(state.config) + ", not " + configText(config));
   }
   return state;
}

std::size_t SimulatedChip::segmentBytes(const Config& config) {
   // Room for the chip's record, the allocator's own and the page alignment of the blocks.
   constexpr std::size_t overhead = 1 << 20;
   return config.unitCount * State::unitBytesOf(config) + overhead;
}

SimulatedChip::SimulatedChip(Config config)
    : SimulatedChip(Segment::SwitchSegment::create(segmentBytes(config)), nullptr, config) {}

SimulatedChip::SimulatedChip(Segment::SwitchSegment& segment, Config config)
    : SimulatedChip(nullptr, &segment, config) {}

SimulatedChip::SimulatedChip(std::unique_ptr<Segment::SwitchSegment> ownSegment,
                             Segment::SwitchSegment* segment, Config config)
    : ownSegment_(std::move(ownSegment)),
      segment_(segment ? *segment : *ownSegment_),
      config_(config),
      state_(stateIn(segment_, config)) {
   std::byte* const units = segment_.base() + state_.unitsOffset;
   units_.reserve(config.unitCount);
   for (U32 unit = 0; unit < config.unitCount; ++unit) {
      units_.emplace_back(units + unit * state_.unitBytes, config);
   }
}

SimulatedChip::~SimulatedChip() = default;

bool SimulatedChip::isBuilt(U32 unit) const {
   return state_.unitBuilt[unit].load(std::memory_order_acquire) != 0;
}

SimulatedChip::Unit& SimulatedChip::built(U32 unit) {
   if (!isBuilt(unit)) {
      segment_.doZero(state_.unitsOffset + unit * state_.unitBytes, state_.unitBytes);
      segment_.doPopulate(state_.unitsOffset + unit * state_.unitBytes, state_.unitBytes);
      state_.unitBuilt[unit].store(1, std::memory_order_release);
   }
   return units_[unit];
}

template <class Body>
S32 SimulatedChip::onUnit(S32 unit, Body&& body) {
   if (unit < 0 || static_cast<U32>(unit) >= config_.unitCount ||
       state_.unitGone[static_cast<U32>(unit)].load(std::memory_order_acquire) != 0) {
      return code(SdkError::invalidUnit);
   }
   const std::lock_guard<std::mutex> hold(mutex_);
   return body(built(static_cast<U32>(unit)));
}

template <class Body>
void SimulatedChip::writeUnit(S32 unit, Body&& body) {
   KIV_ASSERT( unit >= 0 && static_cast<U32>(unit) < config_.unitCount );
   const std::lock_guard<std::mutex> hold(mutex_);
   body(built(static_cast<U32>(unit)));
}

template <class Body, class Empty>
auto SimulatedChip::readUnit(S32 unit, Body&& body, Empty empty) {
   KIV_ASSERT( unit >= 0 && static_cast<U32>(unit) < config_.unitCount );
   if (!isBuilt(static_cast<U32>(unit))) return empty;
   return body(units_[static_cast<U32>(unit)]);
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
   return readUnit(
       unit, [&](Unit& state) { return state.fields.classify(packet); }, std::optional<Match>());
}

PacketOutcome SimulatedChip::outcome(S32 unit, const Packet& packet, const ActionList& actions) {
   const std::optional<PacketOutcome> outcome = readUnit(
       unit,
       [&](Unit& state) {
          return std::optional(packetOutcome(packet, actions, state.portTranslation));
       },
       std::optional<PacketOutcome>());
   KIV_ASSERT( outcome );
   return *outcome;
}

U64 SimulatedChip::hitCount(S32 unit, U32 entry) {
   return readUnit(
       unit, [&](Unit& state) { return state.fields.hitCount(entry); }, U64{0});
}

void SimulatedChip::hitCountsClear(S32 unit) {
   readUnit(
       unit,
       [&](Unit& state) {
          state.fields.hitCountsClear();
          return 0;
       },
       0);
}

std::optional<FieldEntry> SimulatedChip::entry(S32 unit, U32 entryId) {
   return readUnit(
       unit, [&](Unit& state) { return state.fields.entry(entryId); }, std::optional<FieldEntry>());
}

std::size_t SimulatedChip::entryCount(S32 unit) {
   return readUnit(
       unit, [&](Unit& state) { return state.fields.entryCount(); }, std::size_t{0});
}

std::optional<SimulatedChip::HardwareCopy> SimulatedChip::entryAtHardwareIndex(S32 unit,
                                                                               U32 index) {
   return readUnit(
       unit,
       [&](Unit& state) -> std::optional<HardwareCopy> {
          const U32 slots = state.fields.slotCount();
          const U32 replica = index / slots;
          if (replica >= U32{config_.pipes} * config_.copiesPerPipe) return std::nullopt;
          const U32 entryId = state.fields.entryInSlot(index % slots);
          if (entryId == 0) return std::nullopt;
          return HardwareCopy{entryId, static_cast<U8>(replica / config_.copiesPerPipe),
                              static_cast<U8>(replica % config_.copiesPerPipe)};
       },
       std::optional<HardwareCopy>());
}

void SimulatedChip::doReset() {
   const std::lock_guard<std::mutex> hold(mutex_);
   for (U32 unit = 0; unit < config_.unitCount; ++unit) {
      if (!isBuilt(unit)) continue;
      units_[unit].fields.doClear();
      units_[unit].portTranslation.doClear();
   }
}

void SimulatedChip::doUnitReset(S32 unit) {
   KIV_ASSERT( unit >= 0 && static_cast<U32>(unit) < config_.unitCount );
   const std::lock_guard<std::mutex> hold(mutex_);
   if (!isBuilt(static_cast<U32>(unit))) return;
   units_[static_cast<U32>(unit)].fields.doClear();
   units_[static_cast<U32>(unit)].portTranslation.doClear();
}

void SimulatedChip::unitGoneIs(S32 unit, bool gone) {
   KIV_ASSERT( unit >= 0 && static_cast<U32>(unit) < config_.unitCount );
   state_.unitGone[static_cast<U32>(unit)].store(gone ? 1 : 0, std::memory_order_release);
}

void SimulatedChip::doSessionEnd() {
   const std::lock_guard<std::mutex> hold(mutex_);
   for (U32 unit = 0; unit < config_.unitCount; ++unit) {
      if (isBuilt(unit)) units_[unit].fields.unplacedEntriesDel();
   }
}

U32 SimulatedChip::portTranslationControl(S32 unit) {
   return readUnit(
       unit, [&](Unit& state) { return state.portTranslation.control(); }, U32{0});
}

void SimulatedChip::portTranslationControlIs(S32 unit, U32 value) {
   writeUnit(unit, [&](Unit& state) { state.portTranslation.controlIs(value); });
}

PortTranslation::ProfileEntry SimulatedChip::portTranslationProfile(S32 unit, U8 pipe, U32 index) {
   return readUnit(
       unit, [&](Unit& state) { return state.portTranslation.profile(pipe, index); },
       PortTranslation::ProfileEntry{});
}

void SimulatedChip::portTranslationProfileIs(S32 unit, U32 index,
                                             const PortTranslation::ProfileEntry& entry) {
   writeUnit(unit, [&](Unit& state) { state.portTranslation.profileIs(index, entry); });
}

}  // namespace Chip

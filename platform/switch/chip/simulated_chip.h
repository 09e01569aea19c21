#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/framework/kiv/types.h"
#include "platform/segment/switch_segment.h"
#include "platform/switch/chip/field_entry.h"
#include "platform/switch/chip/field_processor.h"
#include "platform/switch/chip/packet.h"
#include "platform/switch/chip/packet_outcome.h"
#include "platform/switch/chip/port_translation.h"
#include "platform/switch/sdk/sdk_backend.h"

namespace Chip {

// A switch chip simulated in a switch segment, behind the SDK shim like a real one (install it
// with Shim::ScopedBackend). Each unit has an ingress field processor (FieldProcessor) and an
// L4 port translation block (PortTranslation, its memory copied in every pipe), in fixed
// arrays as hardware has them. Calls naming a unit outside [0, unitCount) return the
// invalid-unit code. Entry ids run from 1 to twice the unit's slot count; others are invalid
// parameters.
//
// The IP fragment qualifier maps the SDK's fragment states onto the key: notFragment matches
// unfragmented packets, firstFragment and nonFirstFragment one kind of fragment, anyFragment
// both kinds. Entries that changed since install classify with their installed content.
//
// The chip's state is in the segment, and a SimulatedChip is one process's way to it: the
// chip outlives the object, and another process's SimulatedChip over the same segment sees
// the same chip. A unit's state is built on the first SDK call or direct write that names it,
// and only then shown to readers, whole. One process writes at a time (the agent); within it
// the SDK calls and the direct writes take the object's lock, so they may come from any
// thread. The direct reads (classify, outcome, hitCount, entry, entryCount,
// entryAtHardwareIndex, the port translation reads) take no lock and write nothing but hit counts:
// they may run in any process beside the writer and see each entry, slot, register and profile
// entry whole, the one before or the one after a write, and a unit not built yet as an empty one.
// They are for tests, scenarios and the switch's traffic; a unit outside the range is fatal there.
class SimulatedChip : public Shim::SdkBackend {
public:
   struct Config {
      U32 unitCount = 65;  // every module id the agent accepts is a unit
      U32 tcamSlotsPerUnit = 4096;
      // Every pipe holds copiesPerPipe copies of the TCAM; an entry in slot s sits at the
      // hardware index (pipe * copiesPerPipe + copy) * tcamSlotsPerUnit + s of each.
      U8 pipes = 1;
      U8 copiesPerPipe = 1;

      bool operator==(const Config&) const = default;
   };
   // The most units a chip can have.
   static constexpr U32 maxUnits = 256;

   // The chip in `segment`, built there when the segment has none yet; `segment` outlives this
   // object. A chip found there with another config throws Kiv::NameInUseException; a config
   // of more than maxUnits units is fatal.
   SimulatedChip(Segment::SwitchSegment& segment, Config config);
   // A chip in a segment of its own, which goes with this object.
   explicit SimulatedChip(Config config);
   SimulatedChip() : SimulatedChip(Config{}) {}
   ~SimulatedChip() override;

   // The segment room a chip of `config` takes.
   static std::size_t segmentBytes(const Config& config);

   S32 bcm_field_qualify_SrcIp(S32 unit, U32 entry, U32 data, U32 mask) override;
   S32 bcm_field_qualify_DstIp(S32 unit, U32 entry, U32 data, U32 mask) override;
   S32 bcm_field_qualify_L4SrcPort(S32 unit, U32 entry, U32 data, U32 mask) override;
   S32 bcm_field_qualify_L4DstPort(S32 unit, U32 entry, U32 data, U32 mask) override;
   S32 bcm_field_qualify_L3Ingress(S32 unit, U32 entry, U32 data, U32 mask) override;
   S32 bcm_field_qualify_IpProtocol(S32 unit, U32 entry, U8 data, U8 mask) override;
   S32 bcm_field_qualify_IpFrag(S32 unit, U32 entry, S32 fragState) override;
   S32 bcm_field_qualify_TcpControl(S32 unit, U32 entry, U8 data, U8 mask) override;
   S32 bcm_field_action_remove_all(S32 unit, U32 entry) override;
   S32 bcm_field_action_add(S32 unit, U32 entry, S32 action, U32 param0, U32 param1) override;

   S32 bcm_field_qualify_SrcIp_get(S32 unit, U32 entry, U32* data, U32* mask) override;
   S32 bcm_field_qualify_DstIp_get(S32 unit, U32 entry, U32* data, U32* mask) override;
   S32 bcm_field_qualify_L4SrcPort_get(S32 unit, U32 entry, U32* data, U32* mask) override;
   S32 bcm_field_qualify_L4DstPort_get(S32 unit, U32 entry, U32* data, U32* mask) override;
   S32 bcm_field_qualify_L3Ingress_get(S32 unit, U32 entry, U32* data, U32* mask) override;
   S32 bcm_field_qualify_IpProtocol_get(S32 unit, U32 entry, U8* data, U8* mask) override;

   S32 bcm_field_entry_create_at(S32 unit, S32 group, U32 entry, U32 slot) override;
   S32 bcm_field_entry_destroy(S32 unit, U32 entry) override;
   S32 bcm_field_entry_install(S32 unit, U32 entry) override;
   S32 bcm_field_entry_reinstall(S32 unit, U32 entry) override;
   S32 bcm_field_entry_prio_set(S32 unit, U32 entry, S32 priority) override;
   S32 bcm_field_entry_create(S32 unit, S32 group, U32 entry) override;
   S32 bcm_field_entry_multi_get(S32 unit, S32 group, std::span<U32> entries, U32* count) override;
   S32 bcm_field_group_flash(S32 unit, S32 group, U32 firstSlot, std::span<U32> entries) override;

   S32 soc_reg32_get(S32 unit, S32 reg, S32 port, S32 index, U32* value) override;
   S32 soc_reg32_set(S32 unit, S32 reg, S32 port, S32 index, U32 value) override;
   void soc_reg_field32_set(S32 unit, S32 reg, U32* value, S32 field, U32 fieldValue) override;
   S32 soc_mem_read(S32 unit, S32 mem, S32 block, S32 index, std::span<U32> entry) override;
   S32 soc_mem_write(S32 unit, S32 mem, S32 block, S32 index, std::span<const U32> entry) override;
   void soc_mem_field32_set(S32 unit, S32 mem, std::span<U32> entry, S32 field,
                            U32 fieldValue) override;

   // For tests and scenarios: the chip's state read and preset directly, past the SDK.
   // What `packet` arriving on `unit` hits, counting the hit; nothing when no entry matches.
   std::optional<Match> classify(S32 unit, const Packet& packet);
   // What `packet` on `unit` meets after hitting an entry with `actions` (packetOutcome): the
   // actions of a match classify gave on that unit. A unit not built yet holds no entries
   // and has no outcome to give: fatal.
   PacketOutcome outcome(S32 unit, const Packet& packet, const ActionList& actions);
   U64 hitCount(S32 unit, U32 entry);
   // Clears every hit count of the unit; like the reads, it takes no lock and writes nothing
   // else.
   void hitCountsClear(S32 unit);
   // A copy of the entry as the SDK wrote it; nothing when the unit has no such entry.
   std::optional<FieldEntry> entry(S32 unit, U32 entryId);
   std::size_t entryCount(S32 unit);
   // What sits at one hardware index: an entry's copy in one pipe.
   struct HardwareCopy {
      U32 entryId;
      U8 pipe;
      U8 copy;

      bool operator==(const HardwareCopy&) const = default;
   };
   // The entry copy at hardware index `index` of `unit`, or nothing.
   std::optional<HardwareCopy> entryAtHardwareIndex(S32 unit, U32 index);
   // A cold reset: every unit loses its field entries, registers and memories.
   void doReset();
   // The same for one unit, as when its module leaves the switch.
   void doUnitReset(S32 unit);
   // A unit whose line card is out: every SDK call on it fails with an invalid unit, in
   // every process, until it is back.
   void unitGoneIs(S32 unit, bool gone);
   // The agent's SDK session ends (the agent process goes): entries staged for a flash download
   // that never came are lost with it, as the SDK keeps them in the agent's memory. What is
   // placed in the TCAM stays and keeps matching.
   void doSessionEnd();
   U32 portTranslationControl(S32 unit);
   void portTranslationControlIs(S32 unit, U32 value);
   // One pipe's copy of a profile entry; the setter sets every pipe's.
   PortTranslation::ProfileEntry portTranslationProfile(S32 unit, U8 pipe, U32 index);
   void portTranslationProfileIs(S32 unit, U32 index, const PortTranslation::ProfileEntry& entry);

private:
   struct State;
   struct Unit;

   // Over `segment`, or over `ownSegment` when that is null.
   SimulatedChip(std::unique_ptr<Segment::SwitchSegment> ownSegment,
                 Segment::SwitchSegment* segment, Config config);
   // The chip in `segment`, made there when there is none.
   static State& stateIn(Segment::SwitchSegment& segment, const Config& config);

   // Runs `body` on the unit's state, built if need be, under the object's lock; the
   // invalid-unit code when there is no such unit.
   template <class Body>
   S32 onUnit(S32 unit, Body&& body);
   // As onUnit, for direct writes: a unit outside the range is fatal.
   template <class Body>
   void writeUnit(S32 unit, Body&& body);
   // Runs `body` on the unit's state without a lock, or gives `empty` when the unit is not
   // built yet; a unit outside the range is fatal.
   template <class Body, class Empty>
   auto readUnit(S32 unit, Body&& body, Empty empty);

   // The unit's state, built on first use. The caller holds the object's lock.
   Unit& built(U32 unit);
   bool isBuilt(U32 unit) const;

   S32 qualifierIs(S32 unit, U32 entry, KeyField field, U32 data, U32 mask);
   S32 qualifierGet(S32 unit, U32 entry, KeyField field, U32* data, U32* mask);

   // Null when the chip lives in a segment someone else holds.
   const std::unique_ptr<Segment::SwitchSegment> ownSegment_;
   Segment::SwitchSegment& segment_;
   const Config config_;
   State& state_;
   std::mutex mutex_;
   // This process's views of every unit's state, built or not.
   std::vector<Unit> units_;
};

}  // namespace Chip

#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/framework/kiv/types.h"
#include "platform/switch/chip/field_entry.h"
#include "platform/switch/chip/field_processor.h"
#include "platform/switch/chip/packet.h"
#include "platform/switch/chip/port_translation.h"
#include "platform/switch/sdk/sdk_backend.h"

namespace Chip {

// A switch chip simulated in memory, behind the SDK shim like a real one (install it with
// Shim::ScopedBackend). Each unit has an ingress field processor (FieldProcessor) and an L4
// port translation block (PortTranslation, its memory copied in every pipe); a unit's state is
// created on first use. Calls naming a unit outside [0, unitCount) return the invalid-unit code.
//
// The IP fragment qualifier maps the SDK's fragment states onto the key: notFragment matches
// unfragmented packets, firstFragment and nonFirstFragment one kind of fragment, anyFragment
// both kinds. Entries that changed since install classify with their installed content.
//
// Every operation, SDK call or direct access, takes the chip's own lock, so the chip may be called
// from any thread. The direct-access operations are for tests and scenarios; a unit outside the
// range is fatal there.
class SimulatedChip : public Shim::SdkBackend {
public:
   struct Config {
      U32 unitCount = 65;  // every module id the agent accepts is a unit
      U32 tcamSlotsPerUnit = 4096;
      // Every pipe holds copiesPerPipe copies of the TCAM; an entry in slot s sits at the
      // hardware index (pipe * copiesPerPipe + copy) * tcamSlotsPerUnit + s of each.
      U8 pipes = 1;
      U8 copiesPerPipe = 1;
   };

   explicit SimulatedChip(Config config);
   SimulatedChip() : SimulatedChip(Config{}) {}
   ~SimulatedChip() override;

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
   S32 bcm_field_group_flash(S32 unit, S32 group, U32 firstSlot,
                             std::span<U32> entries) override;

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
   U64 hitCount(S32 unit, U32 entry);
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
   struct Unit;

   // Runs `body` on the unit's state under the chip's lock; the invalid-unit code when
   // there is no such unit.
   template <class Body>
   S32 onUnit(S32 unit, Body&& body);
   // As onUnit, for direct access: a unit outside the range is fatal.
   template <class Body>
   auto peekUnit(S32 unit, Body&& body);

   // The unit's state, created on first use. The caller holds the chip's lock.
   Unit& stateOf(U32 unit);

   S32 qualifierIs(S32 unit, U32 entry, KeyField field, U32 data, U32 mask);
   S32 qualifierGet(S32 unit, U32 entry, KeyField field, U32* data, U32* mask);

   const Config config_;
   std::mutex mutex_;
   std::vector<std::unique_ptr<Unit>> units_;
};

}  // namespace Chip

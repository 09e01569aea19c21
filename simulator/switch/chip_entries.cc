#include "simulator/switch/chip_entries.h"

#include "platform/switch/sdk/sdk_constants.h"

namespace Simulator {

// Entry ids run from 1 to twice the unit's slots: a warm start stages its entries beside the
// previous run's.
ChipEntriesByUid chipEntriesByUid(::Chip::SimulatedChip& chip, uint16_t module,
                                  uint32_t natEntries) {
   constexpr S32 uidTag = static_cast<S32>(Shim::FieldAction::assignOpaqueObject1);
   ChipEntriesByUid entries;
   for (uint32_t id = 1; id <= 2 * natEntries; ++id) {
      const std::optional<::Chip::FieldEntry> entry = chip.entry(module, id);
      if (!entry) continue;
      const std::optional<::Chip::FieldActionValue> uid = entry->actions().find(uidTag);
      const std::optional<::Chip::QualifierValue> vlan =
          entry->qualifier(::Chip::KeyField::l3Ingress);
      entries[uid ? uid->param0 : 0].push_back(
          {id, static_cast<uint16_t>(vlan && vlan->mask != 0 ? vlan->data : 0), !entry->placed(),
           chip.hitCount(module, id)});
   }
   return entries;
}

}  // namespace Simulator

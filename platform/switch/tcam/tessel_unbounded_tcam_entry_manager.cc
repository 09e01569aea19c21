#include "platform/switch/tcam/tessel_unbounded_tcam_entry_manager.h"

#include "platform/framework/kiv/assert.h"
#include "platform/switch/sdk/sdk_call.h"

TesselUnboundedTcamEntryManager::TesselUnboundedTcamEntryManager(
    TesselTcamGroupManager* groupManager, const TcamGroupConfig& config, U32 firstSlot,
    U32 slotsPerUnit)
    : TesselTcamEntryManager(groupManager, config.group),
      config_(config),
      firstSlot_(firstSlot),
      slotsPerUnit_(slotsPerUnit) {}

U32 TesselUnboundedTcamEntryManager::getEntry(U16 unit, const Kiv::String& name) {
   UnitEntries& entries = units_.try_emplace(unit, UnitEntries{{}, {}, firstSlot_}).first->second;
   U32 slot = 0;
   if (!entries.freedSlots.empty()) {
      slot = *entries.freedSlots.begin();
      entries.freedSlots.erase(entries.freedSlots.begin());
   } else if (entries.nextUnusedSlot < firstSlot_ + config_.entriesPerUnit) {
      slot = entries.nextUnusedSlot++;
   } else {
      return 0;
   }
   const U32 entryId = slot + 1;
   // Held before the call: the activity lock is released during it, and another getEntry run
   // meanwhile must not be given the same slot.
   entries.held.emplace(entryId, name);
   SDK_CALL( bcm_field_entry_create_at( unit, group(), entryId, slot ) );
   return entryId;
}

void TesselUnboundedTcamEntryManager::freeEntry(U16 unit, U32 entryId) {
   KIV_ASSERT( isHeld( unit, entryId ) );
   units_.at(unit).held.erase(entryId);
   SDK_CALL( bcm_field_entry_destroy( unit, entryId ) );
   // The slot is given out again only once the chip has let go of it.
   units_.at(unit).freedSlots.insert(entryId - 1);
}

void TesselUnboundedTcamEntryManager::installEntry(U16 unit, U32 entryId) {
   KIV_ASSERT( isHeld( unit, entryId ) );
   SDK_CALL( bcm_field_entry_install( unit, entryId ) );
}

void TesselUnboundedTcamEntryManager::reinstallEntry(U16 unit, U32 entryId) {
   KIV_ASSERT( isHeld( unit, entryId ) );
   SDK_CALL( bcm_field_entry_reinstall( unit, entryId ) );
}

U32 TesselUnboundedTcamEntryManager::getPipeEntryId(U16 unit, U8 pipe, U32 entryId, U8 copy) const {
   KIV_ASSERT( pipe < config_.pipes && copy < config_.copiesPerPipe );
   KIV_ASSERT( isHeld( unit, entryId ) );
   const U32 copyIndex = U32{pipe} * config_.copiesPerPipe + copy;
   return copyIndex * slotsPerUnit_ + (entryId - 1);
}

std::set<U32> TesselUnboundedTcamEntryManager::entriesHeld(U16 unit) const {
   std::set<U32> ids;
   const auto found = units_.find(unit);
   if (found == units_.end()) return ids;
   for (const auto& [entryId, name] : found->second.held) ids.insert(entryId);
   return ids;
}

Kiv::String TesselUnboundedTcamEntryManager::entryName(U16 unit, U32 entryId) const {
   if (!isHeld(unit, entryId)) return {};
   return units_.at(unit).held.at(entryId);
}

bool TesselUnboundedTcamEntryManager::isHeld(U16 unit, U32 entryId) const {
   const auto found = units_.find(unit);
   return found != units_.end() && found->second.held.contains(entryId);
}

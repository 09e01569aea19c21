#include "platform/switch/tcam/tessel_unbounded_tcam_entry_manager.h"

#include <algorithm>

#include "platform/framework/kiv/assert.h"
#include "platform/switch/sdk/sdk_call.h"

U32 TesselUnboundedTcamEntryManager::Pool::take() {
   if (!freed.empty()) {
      const U32 value = freed.top();
      freed.pop();
      return value;
   }
   KIV_ASSERT( nextUnused < first + size );
   return nextUnused++;
}

TesselUnboundedTcamEntryManager::TesselUnboundedTcamEntryManager(
    TesselTcamGroupManager* groupManager, const TcamGroupConfig& config, U32 firstSlot,
    U32 slotsPerUnit, const std::vector<U16>* warmUnits)
    : TesselTcamEntryManager(groupManager, config.group),
      config_(config),
      firstSlot_(firstSlot),
      slotsPerUnit_(slotsPerUnit),
      warmPhase_(warmUnits != nullptr) {
   if (warmUnits) {
      for (const U16 unit : *warmUnits) unitEntries(unit);
   }
}

TesselUnboundedTcamEntryManager::UnitEntries& TesselUnboundedTcamEntryManager::unitEntries(
    U16 unit) {
   const auto found = units_.find(unit);
   if (found != units_.end()) return found->second;
   const U32 n = config_.entriesPerUnit;
   UnitEntries entries{std::vector<Held>(2 * std::size_t{n}),
                       0,
                       {},
                       Pool{firstSlot_, n, firstSlot_, {}},
                       Pool{bankFirstId(0), n, bankFirstId(0), {}}};
   if (warmPhase_) {
      std::vector<U32> ids(n);
      U32 count = 0;
      SDK_CALL_HOLDING_LOCK( bcm_field_entry_multi_get( unit, group(), ids, &count ) );
      KIV_ASSERT( count <= n );
      // Stage with the bank the previous run did not use.
      const bool previousInBank1 = count != 0 && ids.front() >= bankFirstId(1);
      ids.resize(count);
      entries.recovered = std::move(ids);
      const U32 stagingBank = previousInBank1 ? 0 : 1;
      entries.ids = Pool{bankFirstId(stagingBank), n, bankFirstId(stagingBank), {}};
   }
   return units_.emplace(unit, std::move(entries)).first->second;
}

U32 TesselUnboundedTcamEntryManager::getEntry(U16 unit, const Kiv::String& name) {
   UnitEntries& entries = unitEntries(unit);
   // Each held entry has an id and, once placed, a slot; a staged one needs a slot at the
   // flash download. So the count held bounds both.
   if (entries.heldCount == config_.entriesPerUnit) return 0;
   const U32 slot = warmPhase_ ? staged : entries.slots.take();
   const U32 entryId = entries.ids.take();
   auto requester = std::find(requesters_.begin(), requesters_.end(), name);
   if (requester == requesters_.end()) requester = requesters_.insert(requester, name);
   *heldOf(entries, entryId) = Held{slot, static_cast<U16>(requester - requesters_.begin())};
   ++entries.heldCount;
   if (slot == staged) {
      SDK_CALL_HOLDING_LOCK( bcm_field_entry_create( unit, group(), entryId ) );
   } else {
      SDK_CALL_HOLDING_LOCK( bcm_field_entry_create_at( unit, group(), entryId, slot ) );
   }
   // An entry is created with the chip's default priority, 0.
   if (config_.priority != 0) {
      SDK_CALL_HOLDING_LOCK( bcm_field_entry_prio_set( unit, entryId, config_.priority ) );
   }
   return entryId;
}

void TesselUnboundedTcamEntryManager::freeEntry(U16 unit, U32 entryId) {
   KIV_ASSERT( isHeld( unit, entryId ) );
   UnitEntries& entries = units_.at(unit);
   Held& held = *heldOf(entries, entryId);
   const U32 slot = held.slot;
   held = Held{};
   --entries.heldCount;
   SDK_CALL_HOLDING_LOCK( bcm_field_entry_destroy( unit, entryId ) );
   entries.ids.give(entryId);
   if (slot != staged) entries.slots.give(slot);
}

void TesselUnboundedTcamEntryManager::installEntry(U16 unit, U32 entryId) {
   KIV_ASSERT( isHeld( unit, entryId ) );
   if (heldOf(units_.at(unit), entryId)->slot == staged) return;
   SDK_CALL_HOLDING_LOCK( bcm_field_entry_install( unit, entryId ) );
}

void TesselUnboundedTcamEntryManager::reinstallEntry(U16 unit, U32 entryId) {
   KIV_ASSERT( isHeld( unit, entryId ) );
   if (heldOf(units_.at(unit), entryId)->slot == staged) return;
   SDK_CALL_HOLDING_LOCK( bcm_field_entry_reinstall( unit, entryId ) );
}

void TesselUnboundedTcamEntryManager::doFlashDownload() {
   if (!warmPhase_) return;
   std::vector<U16> units;
   for (const auto& unitAndEntries : units_) units.push_back(unitAndEntries.first);
   for (const U16 unit : units) {
      // Placed from the group's first slot on, in the order the chip keeps (what packets met
      // before stays first), which it gives back.
      std::vector<U32> stagedIds;
      const std::vector<Held>& held = units_.at(unit).held;
      for (std::size_t i = 0; i < held.size(); ++i) {
         if (held[i].slot != notHeld) stagedIds.push_back(idAt(i));
      }
      SDK_CALL_HOLDING_LOCK( bcm_field_group_flash( unit, group(), firstSlot_, stagedIds ) );
      UnitEntries& entries = units_.at(unit);
      U32 slot = firstSlot_;
      for (const U32 entryId : stagedIds) heldOf(entries, entryId)->slot = slot++;
      entries.slots = Pool{firstSlot_, config_.entriesPerUnit, slot, {}};
      entries.recovered.clear();
   }
   warmPhase_ = false;
}

U32 TesselUnboundedTcamEntryManager::getPipeEntryId(U16 unit, U8 pipe, U32 entryId, U8 copy) const {
   KIV_ASSERT( pipe < config_.pipes && copy < config_.copiesPerPipe );
   KIV_ASSERT( isHeld( unit, entryId ) );
   const U32 slot = heldOf(units_.at(unit), entryId)->slot;
   if (slot == staged) return invalidHardwareIndex;
   const U32 copyIndex = U32{pipe} * config_.copiesPerPipe + copy;
   return copyIndex * slotsPerUnit_ + slot;
}

std::set<U32> TesselUnboundedTcamEntryManager::entriesHeld(U16 unit) const {
   std::set<U32> ids;
   const auto found = units_.find(unit);
   if (found == units_.end()) return ids;
   const std::vector<Held>& held = found->second.held;
   for (std::size_t i = 0; i < held.size(); ++i) {
      if (held[i].slot != notHeld) ids.insert(ids.end(), idAt(i));
   }
   return ids;
}

std::set<U32> TesselUnboundedTcamEntryManager::entriesRecovered(U16 unit) const {
   const auto found = units_.find(unit);
   if (found == units_.end()) return {};
   return std::set<U32>(found->second.recovered.begin(), found->second.recovered.end());
}

Kiv::String TesselUnboundedTcamEntryManager::entryName(U16 unit, U32 entryId) const {
   if (!isHeld(unit, entryId)) return {};
   return requesters_[heldOf(units_.at(unit), entryId)->requester];
}

bool TesselUnboundedTcamEntryManager::isHeld(U16 unit, U32 entryId) const {
   const auto found = units_.find(unit);
   if (found == units_.end()) return false;
   const Held* held = heldOf(found->second, entryId);
   return held && held->slot != notHeld;
}

const TesselUnboundedTcamEntryManager::Held* TesselUnboundedTcamEntryManager::heldOf(
    const UnitEntries& entries, U32 entryId) const {
   const U32 n = config_.entriesPerUnit;
   for (U32 bank = 0; bank < 2; ++bank) {
      const U32 first = bankFirstId(bank);
      if (entryId >= first && entryId - first < n)
         return &entries.held[bank * n + (entryId - first)];
   }
   return nullptr;
}

TesselUnboundedTcamEntryManager::Held* TesselUnboundedTcamEntryManager::heldOf(UnitEntries& entries,
                                                                               U32 entryId) const {
   return const_cast<Held*>(heldOf(static_cast<const UnitEntries&>(entries), entryId));
}

U32 TesselUnboundedTcamEntryManager::idAt(std::size_t index) const {
   const U32 n = config_.entriesPerUnit;
   return bankFirstId(static_cast<U32>(index / n)) + static_cast<U32>(index % n);
}

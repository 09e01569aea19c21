#pragma once

#include <map>
#include <set>
#include <unordered_map>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/switch/tcam/tcam_group_config.h"
#include "platform/switch/tcam/tessel_tcam_entry_manager.h"

// Hands out the field entries of one TCAM group on every unit, up to the group's entries per
// unit. The group owns the unit TCAM slots [firstSlot, firstSlot + entriesPerUnit); the lowest
// free slot is given out first, and lower slots match first. An entry's id is its slot + 1:
// unique per unit, never 0, and the same again when a freed slot is handed out anew.
//
// Created by the group manager. Called with the activity lock held; its SDK calls release the
// lock as every SDK call does, and an SDK failure is fatal.
class TesselUnboundedTcamEntryManager : public TesselTcamEntryManager {
public:
   // `slotsPerUnit`: the unit TCAM's size, which spaces the hardware indexes of the copies.
   TesselUnboundedTcamEntryManager(TesselTcamGroupManager* groupManager,
                                   const TcamGroupConfig& config, U32 firstSlot, U32 slotsPerUnit);

   // Creates a field entry of the group on `unit` for the requester `name` and returns its id;
   // 0, with no SDK call, when all the unit's entries of the group are held.
   U32 getEntry(U16 unit, const Kiv::String& name);
   // Destroys the entry and makes it available to getEntry again. Freeing an entry this manager
   // does not hold on `unit` (never got, or freed already) is fatal, before anything changes.
   void freeEntry(U16 unit, U32 entryId);
   // Write a held entry's content into the TCAM: the first time, or again after a change.
   // Fatal for an entry this manager does not hold on `unit`.
   void installEntry(U16 unit, U32 entryId);
   void reinstallEntry(U16 unit, U32 entryId);

   U32 getPipeEntryId(U16 unit, U8 pipe, U32 entryId, U8 copy) const override;

   const TcamGroupConfig& config() const { return config_; }
   // The ids held on `unit`, for leak and double-free checks.
   std::set<U32> entriesHeld(U16 unit) const;
   // The requester an entry was got for; empty when the entry is not held.
   Kiv::String entryName(U16 unit, U32 entryId) const;

private:
   struct UnitEntries {
      std::map<U32, Kiv::String> held;  // entry id -> requester
      std::set<U32> freedSlots;         // free slots below nextUnusedSlot
      U32 nextUnusedSlot;               // every slot from here up is free
   };

   bool isHeld(U16 unit, U32 entryId) const;

   const TcamGroupConfig config_;
   const U32 firstSlot_;
   const U32 slotsPerUnit_;
   std::unordered_map<U16, UnitEntries> units_;
};

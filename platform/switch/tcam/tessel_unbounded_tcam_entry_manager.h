#pragma once

#include <functional>
#include <map>
#include <queue>
#include <set>
#include <unordered_map>
#include <vector>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/switch/tcam/tcam_group_config.h"
#include "platform/switch/tcam/tessel_tcam_entry_manager.h"

// Hands out the field entries of one TCAM group on every unit, up to the group's entries per
// unit. The group owns the unit TCAM slots [firstSlot, firstSlot + entriesPerUnit); the lowest
// free slot is given out first, and lower slots match first. Entry ids come from one of two
// banks of entriesPerUnit ids that belong to the group alone, lowest free first, and are never
// 0: bank 0 is firstSlot + 1 on (on a cold start an entry's id is its slot + 1), bank 1 is the
// same above slotsPerUnit.
//
// Warm start. Created in the warm phase, the manager recovers from the chip, on each unit it
// is given, the group's entries of the previous run, which keep matching as they are. Entries
// got during the phase are staged: created in no slot with ids of the other bank, written by
// their owners, matching nothing yet. The flash download replaces, on every unit in one step,
// the previous run's entries by the staged ones, placed from the group's first slot on and
// installed as their owners left them, in the order packets met the previous run's entries
// of the same keys. The hardware never holds two generations, so a full group restarts as
// well as an empty one. After the flash download the manager works as on a
// cold start.
//
// Created by the group manager. Called with the activity lock held, which its own SDK calls
// keep: a manager call is one step of its caller's, and no other framework work runs inside
// it. An SDK failure is fatal.
class TesselUnboundedTcamEntryManager : public TesselTcamEntryManager {
public:
   // The hardware index of an entry that sits in no slot yet.
   static constexpr U32 invalidHardwareIndex = ~U32{0};

   // `slotsPerUnit`: the unit TCAM's size, which spaces the hardware indexes of the copies.
   // `warmUnits`: null on a cold start; else the units to recover the previous run on.
   TesselUnboundedTcamEntryManager(TesselTcamGroupManager* groupManager,
                                   const TcamGroupConfig& config, U32 firstSlot, U32 slotsPerUnit,
                                   const std::vector<U16>* warmUnits);

   // Creates a field entry of the group on `unit` for the requester `name` and returns its id;
   // 0, with no SDK call, when the unit has no entry of the group left. Getting or freeing an
   // entry during the flash download is fatal.
   U32 getEntry(U16 unit, const Kiv::String& name);
   // Destroys the entry and makes it available to getEntry again. Freeing an entry this manager
   // does not hold on `unit` (never got, freed already, or the previous run's) is fatal,
   // before anything changes.
   void freeEntry(U16 unit, U32 entryId);
   // Write a held entry's content into the TCAM: the first time, or again after a change. A
   // staged entry is written by the flash download instead. Fatal for an entry this manager
   // does not hold on `unit`.
   void installEntry(U16 unit, U32 entryId);
   void reinstallEntry(U16 unit, U32 entryId);

   // invalidHardwareIndex for a staged entry.
   U32 getPipeEntryId(U16 unit, U8 pipe, U32 entryId, U8 copy) const override;

   // Ends the warm phase: on every unit, the staged entries replace the previous run's in one
   // step. Nothing happens outside the warm phase.
   void doFlashDownload();
   bool warmPhase() const { return warmPhase_; }

   const TcamGroupConfig& config() const { return config_; }
   // The ids this run holds on `unit`, for leak and double-free checks.
   std::set<U32> entriesHeld(U16 unit) const;
   // The previous run's ids still on `unit` during the warm phase.
   std::set<U32> entriesRecovered(U16 unit) const;
   // The requester an entry was got for; empty when the entry is not held.
   Kiv::String entryName(U16 unit, U32 entryId) const;

private:
   // Values [first, first + size) handed out lowest free first.
   struct Pool {
      U32 first;
      U32 size;
      U32 nextUnused;  // every value from here up is free
      // Free values below nextUnused, lowest on top.
      std::priority_queue<U32, std::vector<U32>, std::greater<U32>> freed;

      // The lowest free value; the pool must have one.
      U32 take();
      void give(U32 value) { freed.push(value); }
   };
   static constexpr U32 staged = ~U32{0};  // the slot of a staged entry
   static constexpr U32 notHeld = ~U32{0} - 1;
   // Per id of both banks, in id order: its slot, `staged`, or `notHeld`; and who got it.
   struct Held {
      U32 slot = notHeld;
      U16 requester = 0;  // index into requesters_
   };
   struct UnitEntries {
      std::vector<Held> held;  // bank 0's ids, then bank 1's
      U32 heldCount = 0;
      std::vector<U32> recovered;  // the previous run's, ascending, until the flash download
      Pool slots;
      Pool ids;
   };

   // The entry's place in UnitEntries::held; null for an id of neither bank.
   Held* heldOf(UnitEntries& entries, U32 entryId) const;
   const Held* heldOf(const UnitEntries& entries, U32 entryId) const;
   U32 idAt(std::size_t index) const;
   U32 bankFirstId(U32 bank) const { return bank * slotsPerUnit_ + firstSlot_ + 1; }
   // The unit's entries, set up on first use: for a warm phase, with the previous run's
   // recovered and the other bank's ids to stage with.
   UnitEntries& unitEntries(U16 unit);
   bool isHeld(U16 unit, U32 entryId) const;

   const TcamGroupConfig config_;
   const U32 firstSlot_;
   const U32 slotsPerUnit_;
   bool warmPhase_;
   std::unordered_map<U16, UnitEntries> units_;
   std::vector<Kiv::String> requesters_;  // the names entries were got for, each once
};

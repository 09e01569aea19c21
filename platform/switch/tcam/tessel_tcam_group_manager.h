#pragma once

#include <map>

#include "platform/framework/kiv/ptr.h"
#include "platform/framework/kiv/types.h"
#include "platform/switch/tcam/tcam_group_assignment.h"
#include "platform/switch/tcam/tcam_group_config.h"
#include "platform/switch/tcam/tessel_unbounded_tcam_entry_manager.h"

// The agent's TCAM group manager: one entry manager per group assignment. Each group gets its
// own range of every unit's TCAM slots, handed out from slot 0 in the order the groups are
// created, so the entries of an earlier group match before those of a later one.
//
// Holds one reference to each entry manager; an entry manager that outlives the group manager
// sees a null groupManager().
class TesselTcamGroupManager : public Kiv::PtrInterface {
public:
   // `slotsPerUnit`: the TCAM slots of one unit, shared by all groups; at most the chip's.
   explicit TesselTcamGroupManager(U32 slotsPerUnit) : slotsPerUnit_(slotsPerUnit) {}
   ~TesselTcamGroupManager() override;

   // Find-or-create: the entry manager of `config.assignment`, created with the next
   // `entriesPerUnit` slots when the assignment has none. The assignment's manager having
   // another configuration raises the name-in-use error; a group value already served by
   // another assignment, or too few slots left, is fatal.
   Kiv::Ptr<TesselUnboundedTcamEntryManager> unboundedEntryManagerIs(const TcamGroupConfig& config);
   // Null when the assignment has no entry manager.
   Kiv::Ptr<TesselUnboundedTcamEntryManager> unboundedEntryManager(
       TcamGroupAssignment assignment) const;

   // The pipe count and copies per pipe of `group` (the same on every unit); 0 for a group no
   // entry manager serves.
   U32 getNumPipe(U32 group) const;
   U32 getNumCopiesPerPipe(U16 unit, U32 group) const;

private:
   // Null when no entry manager serves `group`.
   const TesselUnboundedTcamEntryManager* managerOfGroup(U32 group) const;

   const U32 slotsPerUnit_;
   U32 nextFreeSlot_ = 0;
   std::map<TcamGroupAssignment, Kiv::Ptr<TesselUnboundedTcamEntryManager>> entryManagers_;
};

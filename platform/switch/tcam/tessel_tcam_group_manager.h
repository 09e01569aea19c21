#pragma once

#include <map>
#include <vector>

#include "platform/framework/kiv/ptr.h"
#include "platform/framework/kiv/types.h"
#include "platform/switch/tcam/tcam_group_assignment.h"
#include "platform/switch/tcam/tcam_group_config.h"
#include "platform/switch/tcam/tessel_unbounded_tcam_entry_manager.h"

// The agent's TCAM group manager: one entry manager per group assignment. Each group gets its
// own range of every unit's TCAM slots, handed out from slot 0 in the order the groups are
// created, so the entries of an earlier group match before those of a later one. A restarted
// agent must create its groups in the same order.
//
// On a warm start the entry managers recover the previous run's entries from the chip and
// stage the new run's until doFlashDownload(), the agent's TCAM flash download, puts the
// staged entries in their place (see TesselUnboundedTcamEntryManager). On a cold start the
// chip must have been reset.
//
// Holds one reference to each entry manager; an entry manager that outlives the group manager
// sees a null groupManager().
class TesselTcamGroupManager : public Kiv::PtrInterface {
public:
   enum class Start : U8 { cold, warm };

   // `slotsPerUnit`: the TCAM slots of one unit, shared by all groups; at most the chip's.
   // `units`: on a warm start, the units whose previous entries the entry managers recover.
   explicit TesselTcamGroupManager(U32 slotsPerUnit, Start start = Start::cold,
                                   std::vector<U16> units = {})
       : slotsPerUnit_(slotsPerUnit), warmPhase_(start == Start::warm), units_(std::move(units)) {}
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

   // The TCAM flash download: every entry manager's staged entries replace the previous run's;
   // the warm phase ends. Nothing happens on a cold start or a second time.
   void doFlashDownload();
   bool warmPhase() const { return warmPhase_; }

private:
   // Null when no entry manager serves `group`.
   const TesselUnboundedTcamEntryManager* managerOfGroup(U32 group) const;

   const U32 slotsPerUnit_;
   bool warmPhase_;
   const std::vector<U16> units_;
   U32 nextFreeSlot_ = 0;
   std::map<TcamGroupAssignment, Kiv::Ptr<TesselUnboundedTcamEntryManager>> entryManagers_;
};

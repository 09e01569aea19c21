#pragma once

#include "platform/framework/kiv/ptr.h"
#include "platform/framework/kiv/types.h"

class TesselTcamGroupManager;

// What every TCAM entry manager offers: the group manager that made it, the SDK group its
// entries belong to, and where the copies of its entries sit in hardware.
class TesselTcamEntryManager : public Kiv::PtrInterface {
public:
   // The group manager that created this manager (not owned); null once it is destroyed.
   TesselTcamGroupManager* groupManager() const { return groupManager_; }
   U32 group() const { return group_; }

   // The hardware index of copy `copy` of entry `entryId` in pipe `pipe` of `unit`; distinct
   // for distinct (pipe, copy, entry). The entry must be one this manager holds on `unit`, and
   // the pipe and copy within the group's counts (fatal otherwise).
   virtual U32 getPipeEntryId(U16 unit, U8 pipe, U32 entryId, U8 copy) const = 0;

protected:
   TesselTcamEntryManager(TesselTcamGroupManager* groupManager, U32 group);

private:
   friend class TesselTcamGroupManager;

   TesselTcamGroupManager* groupManager_;
   const U32 group_;
};

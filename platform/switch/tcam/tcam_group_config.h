#pragma once

#include "platform/framework/kiv/types.h"
#include "platform/switch/tcam/tcam_group_assignment.h"

// How one TCAM group is laid out, the same on every unit.
struct TcamGroupConfig {
   TcamGroupAssignment assignment = 0;
   U32 group = 0;           // the SDK field group its entries are created in
   U32 entriesPerUnit = 0;  // how many entries of the group each unit can hold
   U8 pipes = 1;            // pipes holding a copy of every entry
   U8 copiesPerPipe = 1;    // copies of every entry within one pipe
   // The priority every entry of the group gets: a packet that two entries match meets the one
   // of higher priority first, and of equal priorities the one in the lower slot.
   S32 priority = 0;

   bool operator==(const TcamGroupConfig&) const = default;
};

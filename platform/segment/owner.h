#pragma once

#include <sys/types.h>

#include "platform/framework/kiv/types.h"

namespace Segment {

// A process as the kernel tells it apart: its pid and its start time (clock ticks after boot,
// field 22 of /proc/<pid>/stat), which a later process given the same pid does not share.
struct Owner {
   pid_t pid = 0;
   U64 startTime = 0;

   // This process.
   static Owner self();
   // Whether that process still runs: the pid exists, is not a zombie, and started at
   // startTime.
   bool alive() const;

   bool operator==(const Owner&) const = default;
};

}  // namespace Segment

#include "platform/framework/kiv/freed_memory.h"

#include <malloc.h>

namespace Kiv {

// The largest threshold the allocator takes on a 64-bit system: blocks this big are rare, and
// are given back when freed.
void doKeepFreedMemory() {
   constexpr int largestMappedThreshold = 32 << 20;
   mallopt(M_MMAP_THRESHOLD, largestMappedThreshold);
   mallopt(M_TRIM_THRESHOLD, -1);
}

}  // namespace Kiv

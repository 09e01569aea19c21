#pragma once

#include <cstdint>

namespace Bench {

// The benchmark program counts its heap: live bytes and allocations made so far, on every
// thread, except while a HeapCountPause is alive on the allocating thread.
struct HeapUse {
   std::int64_t bytes = 0;
   std::int64_t allocations = 0;
};
HeapUse heapUse();

// Leaves the allocations and frees of its scope, on this thread, out of the count: what the
// chip and the benchmark's own bookkeeping allocate is not the agent's.
class HeapCountPause {
public:
   HeapCountPause();
   ~HeapCountPause();
   HeapCountPause(const HeapCountPause&) = delete;
   HeapCountPause& operator=(const HeapCountPause&) = delete;
};

}  // namespace Bench

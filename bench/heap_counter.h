#pragma once

#include <cstdint>

namespace Bench {

// The benchmark program counts its heap while a HeapCount is alive: live bytes and
// allocations made, on every thread, except while a HeapCountPause is alive on the allocating
// thread. Outside a HeapCount nothing is counted, so that timed benchmarks pay nothing for it.
struct HeapUse {
   std::int64_t bytes = 0;
   std::int64_t allocations = 0;
};
HeapUse heapUse();

class HeapCount {
public:
   HeapCount();
   ~HeapCount();
   HeapCount(const HeapCount&) = delete;
   HeapCount& operator=(const HeapCount&) = delete;
};

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

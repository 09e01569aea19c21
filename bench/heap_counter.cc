#include "bench/heap_counter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace Bench {
namespace {

std::atomic<bool> counting{false};
std::atomic<std::int64_t> liveBytes{0};
std::atomic<std::int64_t> allocationCount{0};
thread_local int pauses = 0;

void* allocate(std::size_t size) {
   void* block = std::malloc(size == 0 ? 1 : size);
   if (!block) throw std::bad_alloc();
   if (counting.load(std::memory_order_relaxed) && pauses == 0) {
      liveBytes += static_cast<std::int64_t>(malloc_usable_size(block));
      ++allocationCount;
   }
   return block;
}

// A block allocated during a pause, or before counting began, and freed while counting is
// subtracted all the same; the benchmarks count and pause around whole objects, so that does
// not happen to what they measure.
void release(void* block) {
   if (!block) return;
   if (counting.load(std::memory_order_relaxed) && pauses == 0) {
      liveBytes -= static_cast<std::int64_t>(malloc_usable_size(block));
   }
   std::free(block);
}

}  // namespace

HeapUse heapUse() { return HeapUse{liveBytes.load(), allocationCount.load()}; }

HeapCount::HeapCount() { counting = true; }
HeapCount::~HeapCount() { counting = false; }

HeapCountPause::HeapCountPause() { ++pauses; }
HeapCountPause::~HeapCountPause() { --pauses; }

}  // namespace Bench

void* operator new(std::size_t size) { return Bench::allocate(size); }
void* operator new[](std::size_t size) { return Bench::allocate(size); }
void operator delete(void* block) noexcept { Bench::release(block); }
void operator delete[](void* block) noexcept { Bench::release(block); }
void operator delete(void* block, std::size_t) noexcept { Bench::release(block); }
void operator delete[](void* block, std::size_t) noexcept { Bench::release(block); }

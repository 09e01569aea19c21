#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <type_traits>

#include "platform/framework/kiv/assert.h"
#include "platform/framework/kiv/types.h"

namespace Ferro {

// Raises the size error of PodArray::set; out of line so the template stays small. The
// message dumps the first `shownBytes` bytes at `source`, of the `countBytes` that `count`
// values would take, and says so when they are fewer.
[[noreturn]] void throwPodArraySizeError(U32 capacity, U32 count, const void* source,
                                         size_t shownBytes, size_t countBytes);

// A count followed by N slots, all in place, so the array can sit inside a shared-memory
// record. Slots are addressed by `Index`, a range-checked type, so an index outside the
// array is refused when it is made rather than when it is used.
template <class T, U32 N, class Index>
class PodArray {
   static_assert(std::is_trivially_copyable_v<T>);
   static_assert(Index::max < N, "every index value must name a slot");

public:
   static constexpr U32 capacity = N;

   U32 count() const { return count_; }

   // Slot i; slots at or beyond count() hold whatever an earlier set() left there.
   const T& operator[](Index i) const { return slots_[static_cast<size_t>(i.value())]; }

   // Copies `count` values from `source` and makes them the contents. A count above N
   // leaves the array as it was and raises Sentry::InvalidSizeException, whose dump stops
   // at the end of `source`: the count may come from a record that holds only N values.
   // A count within N that `source` does not hold is fatal.
   void set(U32 count, std::span<const T> source) {
      if (count > N) {
         throwPodArraySizeError(N, count, source.data(),
                                sizeof(T) * std::min<size_t>(count, source.size()),
                                sizeof(T) * count);
      }
      KIV_ASSERT(count <= source.size());
      std::copy_n(source.data(), count, slots_);
      count_ = count;
   }

   // Only the first count() slots are contents; stale slots beyond them do not matter.
   friend bool operator==(const PodArray& a, const PodArray& b) {
      return a.count_ == b.count_ && std::equal(a.slots_, a.slots_ + a.count_, b.slots_);
   }

private:
   U32 count_ = 0;
   T slots_[N] = {};
};

}  // namespace Ferro

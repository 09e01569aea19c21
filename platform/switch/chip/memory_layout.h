#pragma once

#include <cstddef>

namespace Chip {

// Lays out arrays one after another in a block of segment memory, each from a cache line of
// its own. The same calls measure a block (with no base) and find the arrays in one, so that
// what is measured and what is used cannot differ.
class MemoryLayout {
public:
   static constexpr std::size_t cacheLine = 64;

   // Null `base` only measures: take() then returns null.
   explicit MemoryLayout(std::byte* base) : base_(base) {}

   template <class T>
   T* take(std::size_t count) {
      static_assert(alignof(T) <= cacheLine);
      offset_ = (offset_ + cacheLine - 1) / cacheLine * cacheLine;
      T* at = base_ ? reinterpret_cast<T*>(base_ + offset_) : nullptr;
      offset_ += count * sizeof(T);
      return at;
   }

   std::size_t bytes() const { return (offset_ + cacheLine - 1) / cacheLine * cacheLine; }

private:
   std::byte* base_;
   std::size_t offset_ = 0;
};

}  // namespace Chip

#pragma once

#include <bit>

#include "platform/framework/kiv/types.h"

namespace Ferro {

// Word-at-a-time hashing for record keys (the 32-bit murmur3 steps). Keys hash their fields
// one by one rather than their bytes, so padding inside a record never reaches the hash.
// Defined here so that a key's hash compiles into a few inline instructions per field: every
// table lookup of a key pays for it.
class HashMix {
public:
   explicit HashMix(U32 seed) : state_(seed) {}

   HashMix& add(U32 word) {
      word *= 0xcc9e2d51u;
      word = std::rotl(word, 15);
      word *= 0x1b873593u;
      state_ ^= word;
      state_ = std::rotl(state_, 13);
      state_ = state_ * 5 + 0xe6546b64u;
      return *this;
   }
   HashMix& add(U64 word) { return add(static_cast<U32>(word)).add(static_cast<U32>(word >> 32)); }

   // The avalanche step; call once after the last add().
   U32 value() const {
      U32 h = state_;
      h ^= h >> 16;
      h *= 0x85ebca6bu;
      h ^= h >> 13;
      h *= 0xc2b2ae35u;
      h ^= h >> 16;
      return h;
   }

private:
   U32 state_;
};

}  // namespace Ferro

#pragma once

#include "platform/framework/kiv/types.h"

namespace Ferro {

// Word-at-a-time hashing for record keys (the 32-bit murmur3 steps). Keys hash their fields
// one by one rather than their bytes, so padding inside a record never reaches the hash.
class HashMix {
public:
   explicit HashMix(U32 seed) : state_(seed) {}

   HashMix& add(U32 word);
   HashMix& add(U64 word) { return add(static_cast<U32>(word)).add(static_cast<U32>(word >> 32)); }

   // The avalanche step; call once after the last add().
   U32 value() const;

private:
   U32 state_;
};

}  // namespace Ferro

#include "platform/records/ferro/hash_mix.h"

#include <bit>

namespace Ferro {

HashMix& HashMix::add(U32 word) {
   word *= 0xcc9e2d51u;
   word = std::rotl(word, 15);
   word *= 0x1b873593u;
   state_ ^= word;
   state_ = std::rotl(state_, 13);
   state_ = state_ * 5 + 0xe6546b64u;
   return *this;
}

U32 HashMix::value() const {
   U32 h = state_;
   h ^= h >> 16;
   h *= 0x85ebca6bu;
   h ^= h >> 13;
   h *= 0xc2b2ae35u;
   h ^= h >> 16;
   return h;
}

}  // namespace Ferro

#pragma once

#include "platform/framework/kiv/types.h"

namespace Chip {

// A run of `width` bits starting at bit `shift` of one hardware word (1 <= width <= 32).
struct BitField {
   U32 shift;
   U32 width;

   constexpr U64 valueMask() const { return (U64{1} << width) - 1; }
   constexpr bool fits(U64 value) const { return (value & ~valueMask()) == 0; }

   template <class Word>
   constexpr Word extract(Word word) const {
      return static_cast<Word>((word >> shift) & valueMask());
   }

   // `word` with this field replaced by `value` (which must fit) and every other bit kept.
   template <class Word>
   constexpr Word inserted(Word word, U64 value) const {
      const Word fieldMask = static_cast<Word>(valueMask() << shift);
      return static_cast<Word>((word & ~fieldMask) | ((value << shift) & fieldMask));
   }
};

}  // namespace Chip

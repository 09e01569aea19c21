#pragma once

#include "platform/switch/chip/tcam_key.h"

namespace Chip {

// One TCAM row: it matches a key when every key bit under the mask equals the row's data bit.
// A default-constructed row is empty: it requires the valid bit to be clear, which no packet
// key has, so it matches nothing.
struct TernaryRow {
   TernaryRow();

   bool matches(const TcamKey& key) const {
      return ((key.words[0] ^ data.words[0]) & mask.words[0]) == 0 &&
             ((key.words[1] ^ data.words[1]) & mask.words[1]) == 0;
   }

   // Requires `field` to equal `value` under `fieldMask`; both must fit the field.
   void fieldIs(KeyField field, U64 value, U64 fieldMask);

   TcamKey data;
   TcamKey mask;
};

}  // namespace Chip

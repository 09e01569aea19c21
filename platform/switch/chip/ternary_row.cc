#include "platform/switch/chip/ternary_row.h"

namespace Chip {

TernaryRow::TernaryRow() { mask.fieldIs(KeyField::entryValid, 1); }

void TernaryRow::fieldIs(KeyField field, U64 value, U64 fieldMask) {
   data.fieldIs(field, value);
   mask.fieldIs(field, fieldMask);
}

}  // namespace Chip

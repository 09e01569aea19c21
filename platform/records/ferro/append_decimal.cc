#include "platform/records/ferro/append_decimal.h"

#include <charconv>

namespace Ferro {

void appendDecimal(Kiv::String& out, U64 value) {
   char digits[20];
   const auto [end, error] = std::to_chars(digits, digits + sizeof(digits), value);
   (void)error;  // 20 digits hold any U64
   out.append(digits, end);
}

}  // namespace Ferro

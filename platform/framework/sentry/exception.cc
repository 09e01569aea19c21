#include "platform/framework/sentry/exception.h"

namespace Sentry {

Kiv::String dumpHex(const void* data, size_t size) {
   static const char digits[] = "0123456789abcdef";
   const auto* bytes = static_cast<const unsigned char*>(data);
   Kiv::String out;
   out.reserve(size * 3);
   for (size_t i = 0; i < size; ++i) {
      if (i) out += ' ';
      out += digits[bytes[i] >> 4];
      out += digits[bytes[i] & 0xf];
   }
   return out;
}

}  // namespace Sentry

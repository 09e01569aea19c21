#include "platform/framework/kiv/string.h"

#include <cstdarg>
#include <cstdio>

namespace Kiv {

String format(const char* fmt, ...) {
   va_list args;
   va_start(args, fmt);
   va_list sizing;
   va_copy(sizing, args);
   const int length = std::vsnprintf(nullptr, 0, fmt, sizing);
   va_end(sizing);
   String out;
   if (length > 0) {
      out.resize(static_cast<size_t>(length));
      std::vsnprintf(out.data(), out.size() + 1, fmt, args);
   }
   va_end(args);
   return out;
}

}  // namespace Kiv

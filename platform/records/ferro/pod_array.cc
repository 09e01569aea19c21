#include "platform/records/ferro/pod_array.h"

#include "platform/framework/kiv/string.h"
#include "platform/framework/sentry/exception.h"

namespace Ferro {

void throwPodArraySizeError(U32 capacity, U32 count, const void* source, size_t shownBytes,
                            size_t countBytes) {
   Kiv::String message = Kiv::format(
       "PodArray::set expected size <= %u, instead got %u. Buffer is at address: "
       "%p with contents: ",
       capacity, count, source);
   message += Sentry::dumpHex(source, shownBytes);
   if (shownBytes < countBytes) {
      message += Kiv::format(" (first %zu of %zu bytes shown)", shownBytes, countBytes);
   }
   throw Sentry::InvalidSizeException(std::move(message));
}

}  // namespace Ferro

#include "platform/records/ferro/pod_array.h"

#include "platform/framework/kiv/string.h"
#include "platform/framework/sentry/exception.h"

namespace Ferro {

void throwPodArraySizeError(U32 capacity, U32 count, const void* source, size_t sourceBytes) {
   throw Sentry::InvalidSizeException(
       Kiv::format("PodArray::set expected size <= %u, instead got %u. Buffer is at address: "
                   "%p with contents: ",
                   capacity, count, source) +
       Sentry::dumpHex(source, sourceBytes));
}

}  // namespace Ferro

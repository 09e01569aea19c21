#include "platform/switch/sdk/return_code.h"

namespace Shim {

const char* errorText(S32 rc) {
   if (rc >= successCode) return "No error";
   switch (static_cast<SdkError>(rc)) {
      case SdkError::internal:
         return "Internal error";
      case SdkError::invalidUnit:
         return "Invalid unit";
      case SdkError::invalidParameter:
         return "Invalid parameter";
      case SdkError::notFound:
         return "Entry not found";
      case SdkError::exists:
         return "Entry exists";
      case SdkError::tableFull:
         return "Table full";
      case SdkError::timeout:
         return "Operation timed out";
   }
   return "Unknown error";
}

}  // namespace Shim

#pragma once

#include "platform/framework/kiv/types.h"

namespace Shim {

// SDK calls return a signed 32-bit code: the success code, or one of the negative error codes
// below. Callers outside the SDK compare only with the success code the shim reports.
inline constexpr S32 successCode = 0;

enum class SdkError : S32 {
   internal = -20,
   invalidUnit = -21,
   invalidParameter = -22,
   notFound = -23,
   exists = -24,
   tableFull = -25,
   timeout = -26,
};

constexpr S32 code(SdkError error) { return static_cast<S32>(error); }

// A printable text for any return code: "No error" for non-negative codes, "Unknown error" for
// a negative code that is not an SdkError. The text has static storage.
const char* errorText(S32 rc);

}  // namespace Shim

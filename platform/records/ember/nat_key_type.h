#pragma once

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"

namespace Ember {

// What a NAT hardware key translates. The control plane writes the number, so a key may
// carry a value outside this list; it must still print.
enum class NatKeyType : U32 {
   staticSrcNat = 1,
   staticDestNat = 2,
   twiceSrcNat = 3,
   twiceDestNat = 4,
   dynamicSrcNat = 5,
   dynamicDestNat = 6,
};

// The enumerator name, or "unknown(N)" for any other value.
Kiv::String text(NatKeyType type);
void appendText(Kiv::String& out, NatKeyType type);

}  // namespace Ember

#pragma once

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"

namespace Ferro {

// Appends `value` in decimal without a temporary string; record texts are built on trace and
// log paths where one reserved buffer per line is all the allocation we want.
void appendDecimal(Kiv::String& out, U64 value);

}  // namespace Ferro

#pragma once

#include "platform/framework/kiv/types.h"

namespace Shoal {

// Iteration state a reader carries from one step of a table walk to the next. Readers
// create it fresh (value-initialised) for each walk and pass it to every step; its contents
// are the table's business. A hint that is stale, fresh or from another table is never
// wrong, only slower: the table then finds the next key by searching.
struct IterHint {
   const void* table = nullptr;
   U64 generation = 0;
   // The table's position after the last step, stored as plain bytes so that the hint does
   // not depend on the table's key and record types.
   alignas(void*) unsigned char position[2 * sizeof(void*)] = {};
};

}  // namespace Shoal

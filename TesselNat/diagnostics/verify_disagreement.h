#pragma once

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/records/ember/nat_hw_key.h"

namespace Tessel {

// One disagreement the audit found: the failed check's text, where it was found (VLAN and
// entry id are 0 where the check is not about one), and the two values compared. For a
// check that something exists, `expected` is 1 and `read` 0; for an absent qualifier that
// should have been present, `read` is 0.
struct VerifyDisagreement {
   Kiv::String check;
   Ember::NatHwKey key;
   U16 vlanId = 0;
   U32 entryId = 0;
   U64 expected = 0;
   U64 read = 0;
};

}  // namespace Tessel

#pragma once

#include "platform/framework/kiv/types.h"
#include "platform/records/ember/nat_hw_data.h"
#include "platform/records/ember/nat_hw_key.h"

namespace Tessel {

// The extraction-control id of a NAT field entry, which selects the chip's translation
// profile: by key type, fragment or default entry, and for static keys whether the
// translated port that decides it is set.
U32 extractionCtrlId(const Ember::NatHwKey& hwKey, bool frag);

// The SDK egress object of next hop `nextHop` (not 0, not all ones): the low 32 bits of the
// rule's base next hop, offset into the multipath range when bit 27 of `nextHop` is set.
U32 nextHopId(U64 nextHop, const Ember::NatHwData& shadowData0);

}  // namespace Tessel

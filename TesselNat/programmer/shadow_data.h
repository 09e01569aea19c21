#pragma once

#include "platform/records/ember/nat_hw_data.h"
#include "platform/records/ember/nat_hw_shadow_entry.h"

namespace Tessel {

// The programmer's local copy of a shadow entry's data. The VLAN ids are copied with
// NatHwData::vlanIdsIs from the count and slots the record holds, so a count above 64 raises
// Sentry::InvalidSizeException here and nothing is programmed from the record.
Ember::NatHwData shadowDataOf(const Ember::NatHwShadowEntry& entry);

}  // namespace Tessel

#include "TesselNat/programmer/shadow_data.h"

namespace Tessel {

Ember::NatHwData shadowDataOf(const Ember::NatHwShadowEntry& entry) {
   Ember::NatHwData data(entry.protocol(), entry.filterAddr(), entry.faIdLimit(), entry.nextHop());
   data.vlanIdsIs(entry.vlanIds(), entry.vlanIdSlots());
   return data;
}

}  // namespace Tessel

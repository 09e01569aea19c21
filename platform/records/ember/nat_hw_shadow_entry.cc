#include "platform/records/ember/nat_hw_shadow_entry.h"

#include "platform/records/ferro/append_decimal.h"

namespace Ember {

Kiv::String text(NatHwShadowEntry::Dirty dirty) {
   switch (dirty) {
      case NatHwShadowEntry::Dirty::clean:
         return "clean";
      case NatHwShadowEntry::Dirty::dirty:
         return "dirty";
      case NatHwShadowEntry::Dirty::deleted:
         return "deleted";
   }
   Kiv::String out = "unknown(";
   Ferro::appendDecimal(out, static_cast<U8>(dirty));
   out += ')';
   return out;
}

NatHwShadowEntry::NatHwShadowEntry(const NatHwKey& key, const NatHwData& data, Dirty dirty)
    : key_(key), dirty_(dirty) {
   dataIs(data);
}

void NatHwShadowEntry::dataIs(const NatHwData& data) {
   protocol_ = data.protocol();
   filterAddr_ = data.filterAddr();
   faIdLimit_ = data.faIdLimit();
   nextHop_ = data.nextHop();
   vlanIdCount_ = data.vlanIds();
   for (U32 i = 0; i < vlanIdCount_; ++i) vlanIdSlots_[i] = data.vlanId(NatVlanIdIndex(i));
}

}  // namespace Ember

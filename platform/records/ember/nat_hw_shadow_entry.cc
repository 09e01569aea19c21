#include "platform/ember/nat_hw_shadow_entry.h"

#include "platform/ferro/append_decimal.h"

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

Kiv::String NatHwShadowEntry::stringValue() const {
   Kiv::String out = key_.stringValue();
   out += ' ';
   out += data_.stringValue();
   out += " dirty: ";
   out += text(dirty_);
   return out;
}

}  // namespace Ember

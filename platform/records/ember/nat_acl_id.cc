#include "platform/records/ember/nat_acl_id.h"

#include "platform/records/ferro/append_decimal.h"

namespace Ember {

Kiv::String NatAclId::stringValue() const {
   Kiv::String out;
   appendText(out);
   return out;
}

void NatAclId::appendText(Kiv::String& out) const { Ferro::appendDecimal(out, value_); }

}  // namespace Ember

#include "platform/records/ember/nat_hw_data.h"

#include "platform/records/ferro/append_decimal.h"

namespace Ember {

Kiv::String NatHwData::stringValue() const {
   Kiv::String out;
   out += "protocol: ";
   Ferro::appendDecimal(out, protocol_);
   out += " filter: ";
   out += filterAddr_.stringValue();
   out += " faIdLimit: ";
   Ferro::appendDecimal(out, faIdLimit_);
   out += " nextHop: ";
   Ferro::appendDecimal(out, nextHop_);
   out += " vlanIds: [";
   for (U32 i = 0; i < vlanIds_.count(); ++i) {
      if (i) out += ", ";
      Ferro::appendDecimal(out, vlanIds_[NatVlanIdIndex(i)]);
   }
   out += ']';
   return out;
}

}  // namespace Ember

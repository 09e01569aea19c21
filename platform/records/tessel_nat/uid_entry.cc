#include "platform/records/tessel_nat/uid_entry.h"

#include "platform/records/ferro/append_decimal.h"

namespace TesselNat {

Kiv::String UidEntry::stringValue() const {
   Kiv::String out = key_.stringValue();
   out += " uid: ";
   Ferro::appendDecimal(out, uid_);
   return out;
}

}  // namespace TesselNat

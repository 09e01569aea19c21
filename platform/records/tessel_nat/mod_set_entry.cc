#include "platform/records/tessel_nat/mod_set_entry.h"

#include "platform/records/ferro/append_decimal.h"

namespace TesselNat {

Kiv::String ModSetEntry::stringValue() const {
   Kiv::String out = "uid: ";
   Ferro::appendDecimal(out, key_);
   out += " modules: ";
   out += modSet_.stringValue();
   return out;
}

}  // namespace TesselNat

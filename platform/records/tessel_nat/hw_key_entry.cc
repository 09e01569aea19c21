#include "platform/records/tessel_nat/hw_key_entry.h"

#include "platform/records/ferro/append_decimal.h"

namespace TesselNat {

Kiv::String HwKeyEntry::stringValue() const {
   Kiv::String out = "uid: ";
   Ferro::appendDecimal(out, key_);
   out += ' ';
   out += hwKey_.stringValue();
   return out;
}

}  // namespace TesselNat

#include "platform/records/tessel_nat/mod_set.h"

#include <bit>

#include "platform/records/ferro/append_decimal.h"

namespace TesselNat {

U32 ModSet::modules() const {
   return static_cast<U32>(std::popcount(words_[0]) + std::popcount(words_[1]));
}

Kiv::String ModSet::stringValue() const {
   Kiv::String out = "{";
   bool first = true;
   for (U32 id = TesselCentral::ModId::min; id <= TesselCentral::ModId::max; ++id) {
      if (!hasModule(TesselCentral::ModId(id))) continue;
      if (!first) out += ", ";
      first = false;
      Ferro::appendDecimal(out, id);
   }
   out += '}';
   return out;
}

}  // namespace TesselNat

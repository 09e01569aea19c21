#include "platform/records/quill/quill_shoal_config.h"

#include "platform/records/ferro/append_decimal.h"

namespace Quill {

Kiv::String QuillShoalConfig::stringValue() const {
   Kiv::String out = "uid: ";
   Ferro::appendDecimal(out, key_.uid());
   out += " reqVersion: ";
   Ferro::appendDecimal(out, reqVersion_);
   return out;
}

}  // namespace Quill

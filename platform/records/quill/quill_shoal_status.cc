#include "platform/records/quill/quill_shoal_status.h"

#include "platform/records/ferro/append_decimal.h"

namespace Quill {

Kiv::String QuillShoalStatus::stringValue() const {
   Kiv::String out = "uid: ";
   Ferro::appendDecimal(out, key_.uid());
   out += " result: ";
   Ferro::appendDecimal(out, result_);
   out += " reqVersion: ";
   Ferro::appendDecimal(out, reqVersion_);
   return out;
}

}  // namespace Quill

#include "platform/records/ember/nat_key_type.h"

#include "platform/records/ferro/append_decimal.h"

namespace Ember {
namespace {

const char* nameOf(NatKeyType type) {
   switch (type) {
      case NatKeyType::staticSrcNat:
         return "staticSrcNat";
      case NatKeyType::staticDestNat:
         return "staticDestNat";
      case NatKeyType::twiceSrcNat:
         return "twiceSrcNat";
      case NatKeyType::twiceDestNat:
         return "twiceDestNat";
      case NatKeyType::dynamicSrcNat:
         return "dynamicSrcNat";
      case NatKeyType::dynamicDestNat:
         return "dynamicDestNat";
   }
   return nullptr;
}

}  // namespace

Kiv::String text(NatKeyType type) {
   Kiv::String out;
   appendText(out, type);
   return out;
}

void appendText(Kiv::String& out, NatKeyType type) {
   if (const char* name = nameOf(type)) {
      out += name;
      return;
   }
   out += "unknown(";
   Ferro::appendDecimal(out, static_cast<U32>(type));
   out += ')';
}

}  // namespace Ember

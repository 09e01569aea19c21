#include "platform/records/netbase/ip_addr.h"

#include <arpa/inet.h>

#include "platform/framework/kiv/errors.h"
#include "platform/records/ferro/append_decimal.h"

namespace Netbase {

IpAddr::IpAddr(const Kiv::String& dotted) {
   in_addr parsed{};
   if (inet_pton(AF_INET, dotted.c_str(), &parsed) != 1) {
      Kiv::throwRangeException("IpAddr text '" + dotted + "' is not a dotted-decimal address");
   }
   networkValue_ = parsed.s_addr;
}

Kiv::String IpAddr::stringValue() const {
   Kiv::String out;
   out.reserve(15);
   appendText(out);
   return out;
}

void IpAddr::appendText(Kiv::String& out) const {
   const U32 host = value();
   for (int shift = 24; shift >= 0; shift -= 8) {
      Ferro::appendDecimal(out, (host >> shift) & 0xff);
      if (shift) out += '.';
   }
}

}  // namespace Netbase

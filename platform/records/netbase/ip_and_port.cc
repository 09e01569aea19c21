#include "platform/records/netbase/ip_and_port.h"

#include "platform/records/ferro/append_decimal.h"

namespace Netbase {

Kiv::String IpAndPort::stringValue() const {
   Kiv::String out;
   out.reserve(21);
   appendText(out);
   return out;
}

void IpAndPort::appendText(Kiv::String& out) const {
   ip_.appendText(out);
   out += ':';
   Ferro::appendDecimal(out, port_);
}

}  // namespace Netbase

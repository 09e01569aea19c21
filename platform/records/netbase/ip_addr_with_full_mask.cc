#include "platform/records/netbase/ip_addr_with_full_mask.h"

namespace Netbase {

Kiv::String IpAddrWithFullMask::stringValue() const {
   Kiv::String out;
   out.reserve(31);
   address_.appendText(out);
   out += '/';
   IpAddr(mask_).appendText(out);
   return out;
}

}  // namespace Netbase

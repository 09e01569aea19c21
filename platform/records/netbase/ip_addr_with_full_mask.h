#pragma once

#include <type_traits>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/records/netbase/ip_addr.h"

namespace Netbase {

// An address with its mask spelled out as a host-order number (0xFFFFFF00 for a /24). The
// hardware filter takes the mask in this form, so no prefix length is kept.
class IpAddrWithFullMask {
public:
   IpAddrWithFullMask() = default;
   IpAddrWithFullMask(IpAddr address, U32 mask) : address_(address), mask_(mask) {}

   IpAddr address() const { return address_; }
   U32 mask() const { return mask_; }

   // "10.1.0.0/255.255.0.0"
   Kiv::String stringValue() const;

   friend bool operator==(const IpAddrWithFullMask&, const IpAddrWithFullMask&) = default;

private:
   IpAddr address_;
   U32 mask_ = 0;
};

static_assert(std::is_trivially_copyable_v<IpAddrWithFullMask>);

}  // namespace Netbase

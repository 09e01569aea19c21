#pragma once

#include <bit>
#include <compare>
#include <type_traits>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"

namespace Netbase {

// An IPv4 address. It is held in network byte order, the form the hardware tables and the
// packet headers use; value() gives the host-order number for arithmetic and masks.
class IpAddr {
public:
   IpAddr() = default;
   explicit IpAddr(U32 hostValue) : networkValue_(swapForNetwork(hostValue)) {}
   // Dotted-decimal text ("10.1.2.3"); anything else raises the range error.
   explicit IpAddr(const Kiv::String& dotted);

   U32 value() const { return swapForNetwork(networkValue_); }
   U32 networkValue() const { return networkValue_; }
   bool isSet() const { return networkValue_ != 0; }

   Kiv::String stringValue() const;
   void appendText(Kiv::String& out) const;

   friend bool operator==(IpAddr a, IpAddr b) = default;
   // Numeric order, so 9.0.0.0 sorts before 10.0.0.0 whatever the byte order.
   friend std::strong_ordering operator<=>(IpAddr a, IpAddr b) { return a.value() <=> b.value(); }

private:
   // The same swap converts in both directions.
   static U32 swapForNetwork(U32 v) {
      if constexpr (std::endian::native == std::endian::big) return v;
      return __builtin_bswap32(v);
   }

   U32 networkValue_ = 0;
};

static_assert(std::is_trivially_copyable_v<IpAddr>);

}  // namespace Netbase

#pragma once

#include <compare>
#include <type_traits>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/records/netbase/ip_addr.h"

namespace Netbase {

// An address and a transport port. The all-zero value means "not set": NAT keys leave the
// pairs a rule does not translate at zero.
class IpAndPort {
public:
   IpAndPort() = default;
   IpAndPort(IpAddr ip, U16 port) : ip_(ip), port_(port) {}

   IpAddr ip() const { return ip_; }
   U16 port() const { return port_; }
   bool isSet() const { return ip_.isSet() || port_ != 0; }

   // "10.1.2.3:80"; a set address with port 0 still prints ":0".
   Kiv::String stringValue() const;
   void appendText(Kiv::String& out) const;

   friend bool operator==(const IpAndPort&, const IpAndPort&) = default;
   friend auto operator<=>(const IpAndPort&, const IpAndPort&) = default;

private:
   IpAddr ip_;
   U16 port_ = 0;
};

static_assert(std::is_trivially_copyable_v<IpAndPort>);

}  // namespace Netbase

#pragma once

#include <compare>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <type_traits>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/records/ember/nat_acl_id.h"
#include "platform/records/ember/nat_key_type.h"
#include "platform/records/netbase/ip_and_port.h"

namespace Ember {

// The match-and-rewrite key of one NAT hardware entry. A pair the rule leaves alone stays
// all-zero. The control plane builds keys either with the full constructor or by chaining
// the setters on a default key:
//    NatHwKey().typeIs(NatKeyType::staticSrcNat).srcIpAndPortOldIs(a).srcIpAndPortNewIs(b)
class NatHwKey {
public:
   NatHwKey() = default;
   NatHwKey(NatKeyType type, Netbase::IpAndPort srcIpAndPortOld, Netbase::IpAndPort srcIpAndPortNew,
            Netbase::IpAndPort dstIpAndPortOld, Netbase::IpAndPort dstIpAndPortNew, NatAclId aclId,
            U8 dynProto, U32 faId);

   NatKeyType type() const { return type_; }
   Netbase::IpAndPort srcIpAndPortOld() const { return srcIpAndPortOld_; }
   Netbase::IpAndPort srcIpAndPortNew() const { return srcIpAndPortNew_; }
   Netbase::IpAndPort dstIpAndPortOld() const { return dstIpAndPortOld_; }
   Netbase::IpAndPort dstIpAndPortNew() const { return dstIpAndPortNew_; }
   NatAclId aclId() const { return aclId_; }
   U8 dynProto() const { return dynProto_; }
   U32 faId() const { return faId_; }

   NatHwKey& typeIs(NatKeyType type);
   NatHwKey& srcIpAndPortOldIs(Netbase::IpAndPort value);
   NatHwKey& srcIpAndPortNewIs(Netbase::IpAndPort value);
   NatHwKey& dstIpAndPortOldIs(Netbase::IpAndPort value);
   NatHwKey& dstIpAndPortNewIs(Netbase::IpAndPort value);
   NatHwKey& aclIdIs(NatAclId aclId);
   NatHwKey& dynProtoIs(U8 dynProto);
   NatHwKey& faIdIs(U32 faId);

   // The two static predicates also check that the pairs agree with the type: a key whose
   // pairs say one thing and whose type says another is a control-plane bug, and the agent
   // stops rather than program it.
   bool isStaticSrcNat() const;
   bool isStaticDestNat() const;
   // A static rule that rewrites a port as well as an address.
   bool isStaticNapt() const;
   // A twice-NAT rule that matches a port and rewrites one.
   bool isTwiceNapt() const;

   U32 hash(U32 seed) const;

   // The trace and log form: "type: staticSrcNat old sip: 10.0.0.1:0 new sip: ... proto: 0
   // faId: 0 aclId: 0"; unset pairs are left out.
   Kiv::String stringValue() const;
   // Every field by name, for test output and debugging.
   Kiv::String toString() const;

   friend bool operator==(const NatHwKey&, const NatHwKey&) = default;
   friend auto operator<=>(const NatHwKey&, const NatHwKey&) = default;

private:
   NatKeyType type_{};
   Netbase::IpAndPort srcIpAndPortOld_;
   Netbase::IpAndPort srcIpAndPortNew_;
   Netbase::IpAndPort dstIpAndPortOld_;
   Netbase::IpAndPort dstIpAndPortNew_;
   NatAclId aclId_;
   U8 dynProto_ = 0;
   U32 faId_ = 0;
};

static_assert(std::is_trivially_copyable_v<NatHwKey>);

std::ostream& operator<<(std::ostream& out, const NatHwKey& key);

}  // namespace Ember

template <>
struct std::hash<Ember::NatHwKey> {
   size_t operator()(const Ember::NatHwKey& key) const { return key.hash(0); }
};

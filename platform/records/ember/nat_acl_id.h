#pragma once

#include <compare>
#include <type_traits>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"

namespace Ember {

// The ACL a NAT rule is bound to; 0 when the rule has none.
class NatAclId {
public:
   NatAclId() = default;
   explicit NatAclId(U32 value) : value_(value) {}

   U32 value() const { return value_; }

   // Decimal.
   Kiv::String stringValue() const;
   void appendText(Kiv::String& out) const;

   friend bool operator==(NatAclId, NatAclId) = default;
   friend auto operator<=>(NatAclId, NatAclId) = default;

private:
   U32 value_ = 0;
};

static_assert(std::is_trivially_copyable_v<NatAclId>);

}  // namespace Ember

#pragma once

#include <type_traits>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/records/ember/nat_hw_key.h"
#include "platform/records/tessel_nat/uid.h"

namespace TesselNat {

// Hardware key to uid: which uid the control plane gave a key.
class UidEntry {
public:
   UidEntry() = default;
   UidEntry(const Ember::NatHwKey& key, Uid uid) : key_(key), uid_(uid.value()) {}

   const Ember::NatHwKey& key() const { return key_; }
   // The raw uid; 0 only in a default record (see uid.h).
   U32 uid() const { return uid_; }
   void uidIs(Uid uid) { uid_ = uid.value(); }

   Kiv::String stringValue() const;

   friend bool operator==(const UidEntry&, const UidEntry&) = default;

private:
   Ember::NatHwKey key_;
   U32 uid_ = 0;
};

static_assert(std::is_trivially_copyable_v<UidEntry>);

}  // namespace TesselNat

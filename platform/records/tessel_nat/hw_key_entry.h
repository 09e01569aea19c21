#pragma once

#include <type_traits>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/records/ember/nat_hw_key.h"
#include "platform/records/tessel_nat/uid.h"

namespace TesselNat {

// Uid to hardware key, the reverse of UidEntry.
class HwKeyEntry {
public:
   HwKeyEntry() = default;
   HwKeyEntry(Uid key, const Ember::NatHwKey& hwKey) : key_(key.value()), hwKey_(hwKey) {}

   // The raw uid; 0 only in a default record (see uid.h).
   U32 key() const { return key_; }
   const Ember::NatHwKey& hwKey() const { return hwKey_; }
   void hwKeyIs(const Ember::NatHwKey& hwKey) { hwKey_ = hwKey; }

   Kiv::String stringValue() const;

   friend bool operator==(const HwKeyEntry&, const HwKeyEntry&) = default;

private:
   U32 key_ = 0;
   Ember::NatHwKey hwKey_;
};

static_assert(std::is_trivially_copyable_v<HwKeyEntry>);

}  // namespace TesselNat

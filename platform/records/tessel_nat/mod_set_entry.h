#pragma once

#include <type_traits>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/records/tessel_nat/mod_set.h"
#include "platform/records/tessel_nat/uid.h"

namespace TesselNat {

// The record of the module-set directory: which modules hold the entry with this uid.
class ModSetEntry {
public:
   ModSetEntry() = default;
   ModSetEntry(Uid key, const ModSet& modSet) : key_(key.value()), modSet_(modSet) {}

   // The raw uid; 0 only in a default record (see uid.h).
   U32 key() const { return key_; }
   const ModSet& modSet() const { return modSet_; }
   void modSetIs(const ModSet& modSet) { modSet_ = modSet; }

   Kiv::String stringValue() const;

   friend bool operator==(const ModSetEntry&, const ModSetEntry&) = default;

private:
   U32 key_ = 0;
   ModSet modSet_;
};

static_assert(std::is_trivially_copyable_v<ModSetEntry>);

}  // namespace TesselNat

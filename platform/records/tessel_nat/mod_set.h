#pragma once

#include <type_traits>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/records/tessel_central/mod_id.h"

namespace TesselNat {

// The modules (0..64, the null module included) that hold a NAT entry, as a bit set kept
// in place so it can live in a shared-memory record.
class ModSet {
public:
   bool hasModule(TesselCentral::ModId id) const { return (words_[wordOf(id)] & bitOf(id)) != 0; }
   void moduleIs(TesselCentral::ModId id) { words_[wordOf(id)] |= bitOf(id); }
   void moduleDel(TesselCentral::ModId id) { words_[wordOf(id)] &= ~bitOf(id); }

   U32 modules() const;
   bool empty() const { return words_[0] == 0 && words_[1] == 0; }

   // "{0, 5, 64}"
   Kiv::String stringValue() const;

   friend bool operator==(const ModSet&, const ModSet&) = default;

private:
   static U32 wordOf(TesselCentral::ModId id) { return id.value() / 64u; }
   static U64 bitOf(TesselCentral::ModId id) { return U64{1} << (id.value() % 64u); }

   U64 words_[2] = {};
};

static_assert(std::is_trivially_copyable_v<ModSet>);

}  // namespace TesselNat

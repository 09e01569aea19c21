#pragma once

#include <compare>
#include <cstddef>
#include <optional>
#include <set>

#include "platform/framework/kiv/types.h"

namespace ControlPlane {

// The outside addresses and ports a dynamic NAT pool hands out, one translation per session.
// The lowest one given back goes out first, then the lowest never given (ports of the first
// address, then of the next), so that a run of the same packets gets the same translations.
class NatPool {
public:
   struct Translation {
      U32 address;
      U16 port;
      friend auto operator<=>(const Translation&, const Translation&) = default;
   };

   // `addresses` from `firstAddress` on, each with the ports firstPort..lastPort.
   NatPool(U32 firstAddress, U32 addresses, U16 firstPort, U16 lastPort);

   // Nothing when every translation is out.
   std::optional<Translation> allocate();
   // `translation` must be out (fatal otherwise).
   void release(Translation translation);
   std::size_t inUse() const { return inUse_; }

private:
   U64 indexOf(Translation translation) const;
   Translation translationAt(U64 index) const;

   U32 firstAddress_;
   U16 firstPort_;
   U64 ports_;
   U64 size_;
   U64 neverGiven_ = 0;  // the first index never given out
   std::set<U64> givenBack_;
   std::size_t inUse_ = 0;
};

}  // namespace ControlPlane

#include "control_plane/nat_pool.h"

#include "platform/framework/kiv/assert.h"

namespace ControlPlane {

NatPool::NatPool(U32 firstAddress, U32 addresses, U16 firstPort, U16 lastPort)
    : firstAddress_(firstAddress),
      firstPort_(firstPort),
      ports_(U64{lastPort} - firstPort + 1),
      size_(U64{addresses} * ports_) {
   KIV_ASSERT( lastPort >= firstPort );
}

std::optional<NatPool::Translation> NatPool::allocate() {
   U64 index = 0;
   if (!givenBack_.empty()) {
      index = *givenBack_.begin();
      givenBack_.erase(givenBack_.begin());
   } else if (neverGiven_ < size_) {
      index = neverGiven_++;
   } else {
      return std::nullopt;
   }
   ++inUse_;
   return translationAt(index);
}

void NatPool::release(Translation translation) {
   const U64 index = indexOf(translation);
   KIV_ASSERT( index < neverGiven_ && !givenBack_.contains( index ) );
   givenBack_.insert(index);
   --inUse_;
}

U64 NatPool::indexOf(Translation translation) const {
   return U64{translation.address - firstAddress_} * ports_ + (translation.port - firstPort_);
}

NatPool::Translation NatPool::translationAt(U64 index) const {
   return {static_cast<U32>(firstAddress_ + index / ports_),
           static_cast<U16>(firstPort_ + index % ports_)};
}

}  // namespace ControlPlane

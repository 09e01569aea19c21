#pragma once

#include "platform/framework/kiv/entity.h"
#include "platform/framework/kiv/ptr.h"

namespace Kiv {

// A small object owned by a state machine (Owner) that observes one entity (Notifier) and
// forwards its notifications to the owner through the back pointer. Concrete reactors
// override the handlers of Notifier::Notifiee.
//
// The owner switches its reactors with its own notification state (isActiveIs). A reactor
// stays silent when it is inactive, when its back pointer was cleared, or while its owner
// is marked for deletion.
template <class Owner, class Notifier>
class Reactor : public Notifier::Notifiee, public PtrInterface {
public:
   Reactor(Owner* owner, const Ptr<const Notifier>& notifier) : owner_(owner) {
      this->notifierIs(notifier);
   }

   Owner* owner() const { return owner_; }
   // Cleared by the owner while it is destroyed.
   void ownerIs(Owner* owner) { owner_ = owner; }

   bool accepts() const override {
      return this->isActive() && owner_ != nullptr && !owner_->deleted();
   }

private:
   Owner* owner_;
};

}  // namespace Kiv

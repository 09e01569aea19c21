#include "platform/tables/shoal/shoal_map_base.h"

#include "platform/framework/kiv/errors.h"
#include "platform/framework/sentry/exception.h"

namespace Shoal {

ShoalMapBase::ShoalMapBase(Kiv::Name name, std::shared_ptr<TableState> state, Access access)
    : Kiv::Entity(std::move(name)), state_(std::move(state)), access_(access) {}

ShoalMapBase::~ShoalMapBase() = default;

void ShoalMapBase::corruptionInjectionDel() {
   state_->corruptionOnReadIs(0);
   state_->corruptionOnEveryReadIs(false);
}

Kiv::String ShoalMapBase::injectedCorruptionText() const {
   return "injected corruption reading shared table '" + name() + "'";
}

void ShoalMapBase::readStart() const {
   if (state_->corruptReadNow())
      throw Sentry::CorruptionDetectedException(injectedCorruptionText());
}

void ShoalMapBase::writeStart() const {
   if (access_ == Access::readOnly) {
      throw Kiv::Exception("shared table '" + name() +
                           "' is mounted read-only: it cannot be written");
   }
}

}  // namespace Shoal

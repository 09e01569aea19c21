#include "platform/tables/shoal/shoal_map_base.h"

#include "platform/framework/kiv/errors.h"
#include "platform/framework/sentry/exception.h"

namespace Shoal {

TableState::~TableState() = default;

void TableState::corruptionReportIs(const Kiv::String& msg) {
   std::lock_guard<std::mutex> guard(reportsMutex_);
   reports_.push_back(msg);
}

U32 TableState::corruptionReports() const {
   std::lock_guard<std::mutex> guard(reportsMutex_);
   return static_cast<U32>(reports_.size());
}

std::vector<Kiv::String> TableState::corruptionMessages() const {
   std::lock_guard<std::mutex> guard(reportsMutex_);
   return reports_;
}

bool TableState::corruptReadNow() {
   if (everyRead_.load()) return true;
   // Count down without going below zero, so that concurrent readers fail exactly once.
   U32 remaining = readsUntilCorruption_.load();
   while (remaining != 0) {
      if (readsUntilCorruption_.compare_exchange_weak(remaining, remaining - 1)) {
         return remaining == 1;
      }
   }
   return false;
}

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

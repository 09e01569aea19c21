#include "platform/tables/shoal/shoal_map_base.h"

#include "platform/framework/sentry/exception.h"

namespace Shoal {

ShoalMapBase::ShoalMapBase(Kiv::Name name) : Kiv::Entity(std::move(name)) {}

ShoalMapBase::~ShoalMapBase() = default;

void ShoalMapBase::doCorruptionDetected(const Kiv::String& msg) const {
   std::lock_guard<std::mutex> guard(reportsMutex_);
   reports_.push_back(msg);
}

U32 ShoalMapBase::corruptionReports() const {
   std::lock_guard<std::mutex> guard(reportsMutex_);
   return static_cast<U32>(reports_.size());
}

std::vector<Kiv::String> ShoalMapBase::corruptionMessages() const {
   std::lock_guard<std::mutex> guard(reportsMutex_);
   return reports_;
}

void ShoalMapBase::corruptionOnReadIs(U32 readsFromNow) { readsUntilCorruption_ = readsFromNow; }

void ShoalMapBase::corruptionOnEveryReadIs(bool everyRead) { everyRead_ = everyRead; }

void ShoalMapBase::corruptionInjectionDel() {
   readsUntilCorruption_ = 0;
   everyRead_ = false;
}

Kiv::String ShoalMapBase::injectedCorruptionText() const {
   return "injected corruption reading shared table '" + name() + "'";
}

void ShoalMapBase::readStart() const {
   if (everyRead_.load()) throw Sentry::CorruptionDetectedException(injectedCorruptionText());
   // Count down without going below zero, so that concurrent readers fail exactly once.
   U32 remaining = readsUntilCorruption_.load();
   while (remaining != 0) {
      if (readsUntilCorruption_.compare_exchange_weak(remaining, remaining - 1)) {
         if (remaining == 1) throw Sentry::CorruptionDetectedException(injectedCorruptionText());
         return;
      }
   }
}

}  // namespace Shoal

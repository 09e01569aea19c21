#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/framework/kiv/entity.h"
#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"

namespace Shoal {

// Base of every shared table. Besides the name it carries two things every table needs:
//
// - Corruption reports. A reader whose read raised Sentry::CorruptionDetectedException hands
//   the exception's text to doCorruptionDetected(). Readers hold tables as Ptr<T const>, so
//   the bookkeeping is mutable and the call is const; it is safe from any thread.
// - Fault injection. A test can make the table raise Sentry::CorruptionDetectedException on
//   a chosen read: once on the Nth read from now, or on every read until cleared. The
//   message names the table (injectedCorruptionText()). What counts as a read is up to the
//   derived table, which calls readStart() at the beginning of each one.
class ShoalMapBase : public Kiv::Entity {
public:
   explicit ShoalMapBase(Kiv::Name name);
   ~ShoalMapBase() override;

   void doCorruptionDetected(const Kiv::String& msg) const;
   U32 corruptionReports() const;
   // The reported messages, oldest first.
   std::vector<Kiv::String> corruptionMessages() const;

   // The Nth read from now raises, once; 1 is the next read and 0 cancels the countdown.
   void corruptionOnReadIs(U32 readsFromNow);
   void corruptionOnEveryReadIs(bool everyRead);
   bool corruptionOnEveryRead() const { return everyRead_.load(); }
   // Cancels both the countdown and the every-read fault.
   void corruptionInjectionDel();
   Kiv::String injectedCorruptionText() const;

protected:
   // Throws Sentry::CorruptionDetectedException when this read is one chosen to fail.
   void readStart() const;

private:
   mutable std::mutex reportsMutex_;
   mutable std::vector<Kiv::String> reports_;
   mutable std::atomic<U32> readsUntilCorruption_{0};
   std::atomic<bool> everyRead_{false};
};

}  // namespace Shoal

#pragma once

#include <memory>
#include <vector>

#include "platform/framework/kiv/entity.h"
#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/tables/shoal/table_state.h"

namespace Shoal {

// How a mount may use its table.
enum class Access : U8 { readOnly, readWrite };

// Base of every mount of a shared table: a framework entity named by its path, over the
// table's shared state. Several mounts of one table, in one agent or in several, share that
// state; each mount has its own notifiees and its own access.
//
// - Corruption reports. A reader whose read raised Sentry::CorruptionDetectedException hands
//   the exception's text to doCorruptionDetected(). Readers hold tables as Ptr<T const>, so
//   the call is const; it is safe from any thread.
// - Fault injection. A test can make the table raise Sentry::CorruptionDetectedException on
//   a chosen read of any of its mounts: once on the Nth read from now, or on every read
//   until cleared. What counts as a read is up to the derived table, which calls readStart()
//   at the beginning of each one.
// - Writes through a read-only mount throw Kiv::Exception naming the table.
class ShoalMapBase : public Kiv::Entity {
public:
   ShoalMapBase(Kiv::Name name, std::shared_ptr<TableState> state, Access access);
   ~ShoalMapBase() override;

   Access access() const { return access_; }
   const std::shared_ptr<TableState>& sharedState() const { return state_; }

   void doCorruptionDetected(const Kiv::String& msg) const { state_->corruptionReportIs(msg); }
   U32 corruptionReports() const { return state_->corruptionReports(); }
   // The reported messages, oldest first.
   std::vector<Kiv::String> corruptionMessages() const { return state_->corruptionMessages(); }

   void corruptionOnReadIs(U32 readsFromNow) { state_->corruptionOnReadIs(readsFromNow); }
   void corruptionOnEveryReadIs(bool everyRead) { state_->corruptionOnEveryReadIs(everyRead); }
   bool corruptionOnEveryRead() const { return state_->corruptionOnEveryRead(); }
   // Cancels both the countdown and the every-read fault.
   void corruptionInjectionDel();
   Kiv::String injectedCorruptionText() const;

   // New records refused because the table held as many as its capacity.
   U32 capacityReports() const { return state_->capacityReports(); }

   // Whether the mount has learnt the table as it was when the mount was made: a mount
   // fills after it is made, through the framework's loop.
   bool mountComplete() const { return mountComplete_; }

protected:
   void mountCompleteIs() { mountComplete_ = true; }
   // Throws Sentry::CorruptionDetectedException when this read is one chosen to fail.
   void readStart() const;
   // Throws Kiv::Exception when this mount may not write.
   void writeStart() const;

private:
   const std::shared_ptr<TableState> state_;
   const Access access_;
   bool mountComplete_ = false;
};

}  // namespace Shoal

#include "platform/switch/sdk/fault_injector.h"

#include "platform/framework/kiv/assert.h"

namespace Shim {

void FaultInjector::failNthCallIs(Operation operation, U32 nth, S32 code) {
   KIV_ASSERT( nth > 0 );
   KIV_ASSERT( code < 0 );
   faults_[indexOf(operation)] = Fault{nth - 1, false, code};
}

void FaultInjector::failEveryCallIs(Operation operation, S32 code) {
   KIV_ASSERT( code < 0 );
   faults_[indexOf(operation)] = Fault{0, true, code};
}

void FaultInjector::faultDel(Operation operation) { faults_[indexOf(operation)].reset(); }

void FaultInjector::workDuringNthCallIs(Operation operation, U32 nth) {
   KIV_ASSERT( nth > 0 );
   callsBeforeWork_[indexOf(operation)] = nth;
}

void FaultInjector::afterNthCallIs(U32 nth, std::function<void()> action) {
   KIV_ASSERT( nth > 0 );
   callsBeforeAction_ = nth;
   actionAfterCall_ = std::move(action);
}

void FaultInjector::faultDelAll() {
   faults_.fill(std::nullopt);
   callsBeforeWork_.fill(0);
   actionAfterCall_ = nullptr;
}

void FaultInjector::doActionAfterCall() {
   // Spent before it runs: the action may set the next one.
   const std::function<void()> action = std::move(actionAfterCall_);
   actionAfterCall_ = nullptr;
   action();
}

std::optional<S32> FaultInjector::faultMet(std::optional<Fault>& fault) {
   if (fault->callsToPass > 0) {
      --fault->callsToPass;
      return std::nullopt;
   }
   const S32 code = fault->code;
   // A one-shot fault is spent once it has fired.
   if (!fault->everyCall) fault.reset();
   return code;
}

}  // namespace Shim

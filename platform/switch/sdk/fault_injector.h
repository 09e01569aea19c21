#pragma once

#include <array>
#include <functional>
#include <optional>

#include "platform/framework/kiv/types.h"
#include "platform/switch/sdk/operation.h"

namespace Shim {

// Makes chosen SDK calls fail without reaching the chip, so that tests and scenarios can drive
// the callers' failure paths, and makes chosen calls let the framework's queued work run while
// the caller waits on the chip, as other framework activity may. One rule of each kind per
// operation; a new rule replaces the old one. Calls are counted from the moment a rule is set.
// Used from the agent's thread only.
class FaultInjector {
public:
   // The `nth` call of `operation` from now on (1 is the next call) returns `code`; the calls
   // before and after it pass. `nth` 0 or a non-negative `code` is a fatal assertion.
   void failNthCallIs(Operation operation, U32 nth, S32 code);
   // Every call of `operation` from now on returns `code` (negative, else fatal).
   void failEveryCallIs(Operation operation, S32 code);
   void faultDel(Operation operation);
   // The `nth` call of `operation` from now on (1 is the next call) first runs the framework's
   // queued work until the loop is idle, taking the activity lock its caller gave up for the
   // call, and only then reaches the chip. `nth` 0 is a fatal assertion.
   void workDuringNthCallIs(Operation operation, U32 nth);
   // Once the `nth` call from now (1 is the next call, of any operation) has returned, and
   // before its caller sees the result, runs `action`, once: how an agent is killed after its
   // Nth SDK call, or held inside one while another process acts. `nth` 0 is fatal; a null
   // action cancels.
   void afterNthCallIs(U32 nth, std::function<void()> action);
   // Removes every rule of every kind.
   void faultDelAll();

   // The three below are consulted by the shim on every call, which almost always passes: they
   // are inline so that a passing call costs a test each.

   // The code to return instead of calling the chip, or nothing when the call goes through.
   std::optional<S32> injectedResult(Operation operation) {
      std::optional<Fault>& fault = faults_[indexOf(operation)];
      if (!fault) return std::nullopt;
      return faultMet(fault);
   }
   // Whether this call of `operation` runs queued work.
   bool runsWorkDuring(Operation operation) {
      U32& calls = callsBeforeWork_[indexOf(operation)];
      return calls != 0 && --calls == 0;
   }
   // Once the call returned.
   void doAfterCall() {
      if (actionAfterCall_ && --callsBeforeAction_ == 0) doActionAfterCall();
   }

private:
   struct Fault {
      U32 callsToPass;  // calls that still pass before the failing one
      bool everyCall;
      S32 code;
   };

   static std::size_t indexOf(Operation operation) { return static_cast<std::size_t>(operation); }
   // A call meets the operation's fault: the fault's code once no calls are left to pass.
   std::optional<S32> faultMet(std::optional<Fault>& fault);
   void doActionAfterCall();

   std::array<std::optional<Fault>, operationCount> faults_;
   std::array<U32, operationCount> callsBeforeWork_{};  // 0: no work; 1: the next call
   U32 callsBeforeAction_ = 0;
   std::function<void()> actionAfterCall_;
};

}  // namespace Shim

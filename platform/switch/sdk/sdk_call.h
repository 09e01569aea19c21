#pragma once

#include "platform/framework/kiv/activity_lock.h"
#include "platform/framework/kiv/assert.h"
#include "platform/framework/kiv/types.h"
#include "platform/switch/sdk/sdk.h"

namespace Shim {

// How a call's return code is judged: a write stops the agent on a negative code, a read hands
// every code back to its caller.
enum class CallKind { write, read };

// One SDK call site, as the call macros capture it.
struct CallSite {
   const char* file;
   int line;
   const char* expression;  // the call exactly as written at the call site
   const char* function;    // the caller's short name, for the trace
   const char* signature;   // the caller's full signature, for the fatal assertion
};

// Judges the code of a call that has returned, with the activity lock held again:
// - a write with a negative code writes "<file>:<line> <expression> API ERROR:<text> (<code>)"
//   to the standard error stream and stops with the fatal assertion "0" naming the caller;
// - otherwise, if "ApiTessel" level 4 is on, traces "<file>:<line> <expression> (rc:<code>)"
//   (" (rv:" for a read) under the caller's short name, and returns the code.
S32 callResult(const CallSite& site, CallKind kind, S32 rc);

// Makes one SDK call with the framework's activity lock released for the call only; the lock is
// taken back when the call returns or throws, before the result is judged. The caller must hold
// the lock (fatal otherwise). Exceptions from the call pass through.
template <class Call>
S32 sdkCall(const CallSite& site, CallKind kind, Call&& call) {
   KIV_ASSERT( Kiv::activityLock().isHeldByThisThread() );
   S32 rc;
   {
      const Kiv::UnlockAnchor unlocked;
      rc = call();
   }
   return callResult(site, kind, rc);
}

// The same call with the activity lock kept for its whole duration, as the TCAM managers make
// theirs: a manager call is one step of its caller's, and nothing else runs inside it.
template <class Call>
S32 sdkCallHoldingLock(const CallSite& site, Call&& call) {
   KIV_ASSERT( Kiv::activityLock().isHeldByThisThread() );
   return callResult(site, CallKind::write, call());
}

}  // namespace Shim

#define SHIM_CALL_SITE_(call) ::Shim::CallSite{__FILE__, __LINE__, #call, __func__, __PRETTY_FUNCTION__}

#define SHIM_SDK_CALL_(kind, call)                                                             \
   ::Shim::sdkCall(SHIM_CALL_SITE_(call), (kind), [&]() -> ::S32 { return ::Shim::sdk_.call; })

// An SDK write or hardware access, written as the SDK call itself:
//    SDK_CALL( bcm_field_action_remove_all( unit(), entryId ) );
// The call is made on Shim::sdk_; its text is the call as written. Fatal on a negative code,
// otherwise evaluates to the code.
#define SDK_CALL(call) SHIM_SDK_CALL_(::Shim::CallKind::write, call)

// An SDK read, as SDK_CALL but never fatal: evaluates to the code, negative or not.
#define SDK_READ(call) SHIM_SDK_CALL_(::Shim::CallKind::read, call)

// An SDK write made with the activity lock held throughout; judged and traced as SDK_CALL.
#define SDK_CALL_HOLDING_LOCK(call) \
   ::Shim::sdkCallHoldingLock(SHIM_CALL_SITE_(call), [&]() -> ::S32 { return ::Shim::sdk_.call; })

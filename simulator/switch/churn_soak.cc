#include "simulator/switch/churn_soak.h"

#include <algorithm>
#include <deque>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <sstream>

#include "platform/framework/kiv/activity_lock.h"
#include "platform/switch/sdk/sdk.h"
#include "simulator/switch/rule_conversion.h"
#include "simulator/switch/rule_generator.h"
#include "simulator/switch/simulated_switch.h"
#include "simulator/switch/soak_hits.h"
#include "simulator/switch/soak_rules.h"

namespace Simulator {
namespace {

// Uids of short-lived rules, published and deleted by the thousand: over a run more uids come
// and go than a status directory holds answers.
constexpr uint16_t firstChurnUid = 1000;
constexpr uint16_t churnBatch = 1024;

class Soak {
public:
   Soak(uint64_t seed, std::ostream* log, const std::string& agentProgram)
       : random_(seed),
         log_(log),
         switch_(SimulatedSwitch::Config{.natEntries = 96,
                                         .pipes = 2,
                                         .modules = {1, 2},
                                         .changeRingEntries = changeRingEntries(),
                                         .mountFillPace = mountFillPace(),
                                         .agentProgram = agentProgram,
                                         // A failure's replay shows what the agent said.
                                         .agentOutput = log ? "" : "/dev/null"}),
         process_(!agentProgram.empty()) {
      // The traffic of an agent process's switch flows while the agent works, and meets
      // what it met when the step began.
      switch_.whileAgentWorksIs([this] {
         if (trafficWatched_) hits_.expectSteady(packetsPerLook, warm_);
      });
   }

   void doStep() {
      trafficWatched_ = process_;
      if (trafficWatched_) hits_.stepBegins();
      const uint32_t pick = below(100);
      if (pick < 40) {
         doPublish();
      } else if (pick < 55) {
         doDelete();
      } else if (pick < 65) {
         doRetryFailed();
      } else if (pick < 72) {
         doCorruptRead();
      } else if (pick < 78) {
         doModuleChange();
      } else if (pick < 86) {
         doWarmRestart();
      } else if (pick < 89) {
         doColdRestart();
      } else if (pick < 99 || below(3) != 0) {
         doHeal();
      } else {
         doUidChurn();
      }
      if (warm_ && below(3) == 0) doFlashDownload();
      check();
   }

   // The last steps said, as --verbose prints them.
   const std::deque<std::string>& recent() const { return recent_; }

private:
   uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(random_); }

   // Half the seeds run with change rings of a few entries, so that the agent's mounts learn
   // most changes by resyncing, coalesced, in entry order rather than the writer's.
   uint32_t changeRingEntries() {
      return below(2) == 0 ? Shoal::TableHeader::defaultRingEntries : 1 + below(4);
   }
   // Half the seeds have the agent's mounts fill a few entries per turn of its loop, so that
   // the agent commits, answers and hears changes while its tables are still filling.
   uint32_t mountFillPace() { return below(2) == 0 ? 0 : 4u << below(5); }
   void say(const std::string& text) {
      if (recent_.size() == recentKept) recent_.pop_front();
      recent_.push_back(text);
      if (log_) *log_ << text << std::endl;
   }

   Rule ruleFor(uint16_t uid) { return soakRuleFor(uid, random_); }

   // More uids than a status directory holds, over a run: a batch of rules on uids of their
   // own, published and deleted at once.
   void doUidChurn() {
      say("uid churn");
      ControlPlane::NatControlPlane& controlPlane = switch_.controlPlane();
      std::vector<uint16_t> uids;
      for (uint16_t i = 0; i < churnBatch; ++i) {
         uids.push_back(nextChurnUid_);
         nextChurnUid_ = nextChurnUid_ == 65535 ? firstChurnUid : nextChurnUid_ + 1;
      }
      Generate generate;
      generate.seed = uids.front();
      generate.uids = uids;
      generate.modules = {1, 2};
      for (const Rule& rule : generatedRules(generate)) {
         if (controlPlane.ruleIs(natRuleOf(rule))) throw SoakBroken{"a churn rule was refused"};
      }
      settle();
      for (uint16_t uid : uids) controlPlane.ruleRemovalIs(TesselNat::Uid(uid));
      settle();
   }

   // What befalls the commit of a published or deleted rule.
   enum class Fault { none, workDuringACall, crash, pause };

   // Framework work may run inside one of the commit's own SDK calls of an agent in this
   // process (the TCAM manager's keep the activity lock, so nothing runs inside those). An
   // agent process is killed at one of the commit's SDK calls, or held inside one while the
   // control plane writes on.
   Fault faultForACommit() {
      if (!process_) {
         if (below(4) != 0) return Fault::none;
         static constexpr Shim::Operation operations[] = {
             Shim::Operation::qualifySrcIp, Shim::Operation::qualifyL3Ingress,
             Shim::Operation::actionAdd, Shim::Operation::actionRemoveAll};
         Shim::sdk_.faultInjector().workDuringNthCallIs(operations[below(4)], 1 + below(3));
         return Fault::workDuringACall;
      }
      const uint32_t pick = below(16);
      if (pick < 2) {
         crashPlanned();
         const bool supervisorRestarts = below(3) != 0;
         say(std::string("  crash planned") + (supervisorRestarts ? "" : ", the agent left down"));
         switch_.crashIs(AgentControl::CrashPoint::sdkCall, 1 + below(30), supervisorRestarts);
         return Fault::crash;
      }
      if (pick < 5) {
         switch_.pauseIs(1 + below(30));
         return Fault::pause;
      }
      return Fault::none;
   }

   // Before a crash that a warm restart follows: every rule programmed, and what the packets
   // hit written down, as before a warm restart.
   void crashPlanned() {
      if (warm_) return;
      doHeal();
      hitBeforeCrash_ = hits_.now();
   }

   // After the commit of `uid`: a crash is a warm restart in the middle of it (and one left
   // down is started again once the control plane has written meanwhile); a held agent goes
   // on once the control plane has written on; a plan that did not fire is withdrawn.
   void faultFollow(Fault fault, uint16_t uid) {
      if (fault == Fault::crash && switch_.crashes().size() != crashesSeen_) {
         crashesSeen_ = switch_.crashes().size();
         say("  crashed");
         warmAfterACrash(uid);
         if (!switch_.agentUp()) doStartAfterADeath();
         return;
      }
      if (fault == Fault::pause && switch_.agentPaused()) {
         say("  held inside an SDK call");
         doWritesWhileHeld(uid);
         switch_.pauseEnd();
         settle();
         return;
      }
      if (fault == Fault::crash || fault == Fault::pause) switch_.plansEnd();
   }

   // A crash in the middle of the commit of `uid` (0: none) is a warm restart there.
   void warmAfterACrash(uint16_t uid) {
      if (warm_) return;
      hits_.restartFrom(std::move(hitBeforeCrash_));
      if (uid != 0) hits_.changedIs(uid);
      warm_ = true;
   }

   // The control plane writes while the agent is down, and again while the new one is held
   // in the middle of its first pass.
   void doStartAfterADeath() {
      for (uint32_t writes = below(3); writes > 0; --writes) doPublishOnly();
      const bool hold = below(2) == 0;
      if (hold) switch_.pauseIs(1 + below(40));
      say("  start the agent warm");
      switch_.doAgentStart(true);
      if (!hold) return;
      if (!switch_.agentPaused()) {
         switch_.plansEnd();
         return;
      }
      say("  held inside an SDK call of its first pass");
      hits_.expectSameAsAtRestart("while the new agent reconciles");
      doWritesWhileHeld(0);
      const bool flashDownload = below(3) == 0;
      if (flashDownload) {
         say("  flash download requested");
         trafficWatched_ = false;
         switch_.doFlashDownload();
      }
      switch_.pauseEnd();
      settle();
      if (!flashDownload) return;
      hits_.expectSameAsAtRestart("after the flash download");
      flashDownloadDone();
   }

   // One to three changes: the held commit's own rule again (or gone), other rules published
   // or deleted.
   void doWritesWhileHeld(uint16_t uid) {
      for (uint32_t writes = 1 + below(3); writes > 0; --writes) {
         if (uid != 0 && below(2) == 0) {
            if (below(4) == 0 && rules_.contains(uid)) {
               say("  delete " + std::to_string(uid) + " meanwhile");
               deleted(uid);
            } else {
               say("  publish " + std::to_string(uid) + " again meanwhile");
               published(ruleFor(uid));
            }
         } else if (below(4) == 0 && !rules_.empty()) {
            const uint16_t victim = anyRule();
            say("  delete " + std::to_string(victim) + " meanwhile");
            deleted(victim);
         } else {
            doPublishOnly();
         }
      }
   }

   uint16_t anyRule() {
      auto rule = rules_.begin();
      std::advance(rule, below(static_cast<uint32_t>(rules_.size())));
      return rule->first;
   }

   void published(const Rule& rule) {
      rules_[rule.uid] = rule;
      hits_.changedIs(rule.uid);
      if (switch_.controlPlane().ruleIs(natRuleOf(rule))) throw SoakBroken{"a rule was refused"};
   }

   void deleted(uint16_t uid) {
      switch_.controlPlane().ruleRemovalIs(TesselNat::Uid(uid));
      hits_.changedIs(uid);
      rules_.erase(uid);
   }

   void doPublishOnly() {
      const auto uid = static_cast<uint16_t>(1 + below(soakMaxUid));
      say("  publish " + std::to_string(uid) + " meanwhile");
      published(ruleFor(uid));
   }

   void settle() {
      switch_.doSettle();
      Shim::sdk_.faultInjector().faultDelAll();
   }

   void doPublish() {
      const auto uid = static_cast<uint16_t>(1 + below(soakMaxUid));
      const Fault fault = faultForACommit();
      say("publish " + std::to_string(uid) + (rules_.contains(uid) ? " (change)" : " (new)"));
      published(ruleFor(uid));
      settle();
      faultFollow(fault, uid);
   }

   void doDelete() {
      if (rules_.empty()) return;
      const Fault fault = faultForACommit();
      // Healing before a crash may have deleted them all.
      if (rules_.empty()) {
         faultFollow(fault, 0);
         return;
      }
      const uint16_t uid = anyRule();
      say("delete " + std::to_string(uid));
      deleted(uid);
      settle();
      faultFollow(fault, uid);
   }

   void doRetryFailed() {
      say("retry failed rules");
      for (const auto& [uid, rule] : rules_) {
         if (!failed(uid)) continue;
         switch_.controlPlane().ruleRetryIs(TesselNat::Uid(uid));
         hits_.changedIs(uid);
      }
      settle();
   }

   // Frees room until every rule is programmed: deletes rules while a retry still fails.
   void doHeal() {
      say("heal");
      for (int round = 0; round < 64 && anyFailed(); ++round) {
         deleted(anyRule());
         settle();
         doRetryFailed();
      }
   }

   // The pending set of a rule reads as corrupt once: the programmer reports it and answers
   // without programming, and the control plane, told of the corruption, publishes the rule
   // again. A fault aimed at one key's read stays in the process that sets it, so only an
   // agent hosted here meets it.
   void doCorruptRead() {
      // The hitless phase commits without reading the pending set.
      if (rules_.empty() || warm_ || process_) return;
      auto target = rules_.begin();
      std::advance(target, below(static_cast<uint32_t>(rules_.size())));
      const uint16_t uid = target->first;
      say("corrupt the pending-set read of " + std::to_string(uid));
      ControlPlane::NatControlPlane& controlPlane = switch_.controlPlane();
      const U32 reportsBefore = controlPlane.ingModSetDir()->corruptionReports();
      controlPlane.ingModSetDir()->corruptionOnLookupIs(uid);
      target->second = ruleFor(uid);
      hits_.changedIs(uid);
      controlPlane.ruleIs(natRuleOf(target->second));
      settle();
      if (controlPlane.ingModSetDir()->corruptionReports() == reportsBefore) {
         throw SoakBroken{"a corrupt pending-set read was not reported"};
      }
      controlPlane.ruleIs(natRuleOf(target->second));
      settle();
   }

   // An agent process may be in the middle of a commit of a rule that names the module: a
   // module pulled has its unit gone before the agent hears of it, and the agent dies at its
   // next SDK call there, as a failed write is fatal; a module inserted is heard of between
   // two of the commit's calls.
   void doModuleChange() {
      const bool midCommit = process_ && below(2) == 0;
      if (switch_.modules().contains(soakSpareModule)) {
         if (midCommit) crashPlanned();
         say(midCommit ? "remove module 3, its unit gone first" : "remove module 3");
         const uint16_t uid = midCommit ? doPublishHeld() : 0;
         const std::size_t crashesBefore = switch_.crashes().size();
         if (midCommit) switch_.chip().unitGoneIs(soakSpareModule, true);
         switch_.moduleDel(soakSpareModule);
         // Its chip went with it: what it held before the restart is gone for good.
         hits_.moduleGone(soakSpareModule);
         if (midCommit) doReleaseHeld();
         if (switch_.crashes().size() != crashesBefore) {
            say("  the agent died at the gone unit");
            crashesChecked_ = crashesSeen_ = switch_.crashes().size();
            warmAfterACrash(uid);
         }
      } else {
         say(midCommit ? "add module 3 during a commit" : "add module 3");
         if (midCommit) doPublishHeld();
         // The control plane asks again for the rules that name the module: each module
         // their request is not settled on programs them afresh.
         for (const auto& [uid, rule] : rules_) {
            if (std::ranges::count(rule.modules, soakSpareModule) != 0) hits_.changedIs(uid);
         }
         switch_.moduleIs(soakSpareModule);
         doReleaseHeld();
      }
   }

   // Publishes a rule that names the spare module with the agent held inside one of its
   // commit's SDK calls (when it makes that many); returns its uid.
   uint16_t doPublishHeld() {
      const auto uid = static_cast<uint16_t>(1 + 2 * below(soakMaxUid / 2));
      switch_.pauseIs(1 + below(30));
      say("  publish " + std::to_string(uid) + ", the agent held in its commit");
      published(ruleFor(uid));
      settle();
      return uid;
   }

   void doReleaseHeld() {
      if (switch_.agentPaused()) {
         switch_.pauseEnd();
         settle();
      } else {
         switch_.plansEnd();
      }
   }

   // A rule failed for a full TCAM can take, in the hitless pass, the room of one that was
   // programmed: room is made first, so that every rule that hits keeps hitting. An agent
   // process may also be killed in the new agent's commit pass, or held in it while the
   // control plane writes and asks for the flash download.
   void doWarmRestart() {
      if (!warm_) doHeal();
      say(warm_ ? "warm restart again, before the flash download" : "warm restart");
      if (!warm_) {
         hits_.restartFrom(hits_.now());
      }
      warm_ = true;
      const uint32_t pick = process_ ? below(4) : 0;
      if (pick == 1) {
         say("  crash planned in the commit pass");
         switch_.crashIs(AgentControl::CrashPoint::commitPass, 1 + below(40), true);
         switch_.doRestart(true);
         crashesSeen_ = switch_.crashes().size();
      } else if (pick == 2) {
         switch_.doAgentStop(true);
         doStartAfterADeath();
      } else {
         switch_.doRestart(true);
      }
      // A flash download asked for while the agent reconciled has checked the packets itself.
      if (warm_) hits_.expectSameAsAtRestart("after a warm restart");
   }

   // An agent process may be killed in the middle of it: the agent started after it waits
   // for a flash download of its own.
   void doFlashDownload() {
      const bool crash = process_ && below(4) == 0;
      say(crash ? "flash download, the agent killed in it" : "flash download");
      if (crash) {
         switch_.crashIs(AgentControl::CrashPoint::flashDownload, 1 + below(4), true);
      }
      const std::vector<SoakHits::Seen> before = hits_.now();
      trafficWatched_ = false;
      switch_.doFlashDownload();
      if (crash && switch_.crashes().size() != crashesSeen_) {
         crashesSeen_ = switch_.crashes().size();
         hits_.expectSame(before, "after a crash in the flash download");
         hits_.restartFromNow();
         return;
      }
      hits_.expectSame(before, "after the flash download");
      flashDownloadDone();
   }

   void flashDownloadDone() {
      warm_ = false;
      hits_.changesDel();
   }

   void doColdRestart() {
      say("cold restart");
      trafficWatched_ = false;
      switch_.doRestart(false);
      warm_ = false;
   }

   bool failed(uint16_t uid) {
      return switch_.controlPlane().answer(TesselNat::Uid(uid)) == ControlPlane::Answer::failed;
   }
   bool anyFailed() {
      for (const auto& [uid, rule] : rules_) {
         if (failed(uid)) return true;
      }
      return false;
   }

   // What the checks read comes from where a person at the switch would read it: the agent's
   // command socket, the control plane's mounts and the chip.
   void check() {
      for (; crashesChecked_ < switch_.crashes().size(); ++crashesChecked_) {
         const SimulatedSwitch::Crash& crash = switch_.crashes()[crashesChecked_];
         if (!crash.planned) throw SoakBroken{"the agent died unplanned: " + crash.end};
      }
      ControlPlane::NatControlPlane& controlPlane = switch_.controlPlane();
      if (controlPlane.outstandingRequests() != 0) {
         std::string uids;
         for (const auto& [uid, rule] : rules_) {
            if (controlPlane.answer(TesselNat::Uid(uid)) == ControlPlane::Answer::waiting) {
               uids.append(1, ' ').append(std::to_string(uid));
            }
         }
         throw SoakBroken{std::to_string(controlPlane.outstandingRequests()) +
                          " request(s) unanswered, of uids" +
                          (uids.empty() ? " being deleted" : uids)};
      }
      const bool settled = !anyFailed();
      for (const auto& [module, audit] : switch_.moduleAudits()) {
         const SimulatedSwitch::EntryAccount& account = audit.entries;
         if (account.held != account.recorded) {
            throw SoakBroken{"module " + std::to_string(module) +
                         " holds other entries than it records"};
         }
         const Quill::QuillShoalStatusDir* answers =
             controlPlane.statusDir(TesselCentral::ModId(module));
         if (!answers) throw SoakBroken{"module " + std::to_string(module) + " has no answers"};
         Quill::QuillShoalKey key;
         Shoal::IterHint hint;
         for (bool more = answers->first(key, hint); more; more = answers->next(key, hint)) {
            if (!controlPlane.quillShoalConfigDir()->quillConfigHas(key)) {
               throw SoakBroken{"module " + std::to_string(module) + " keeps the answer of uid " +
                            std::to_string(key.uid()) + ", whose request is gone"};
            }
         }
         if (!warm_ && account.onChip != account.recorded) {
            throw SoakBroken{"module " + std::to_string(module) + ": the chip holds " +
                         std::to_string(account.onChip.size()) + " entries, " +
                         std::to_string(account.recorded.size()) + " recorded"};
         }
         // A failed rule is partly programmed, as its module said.
         if (settled && !audit.disagreements.empty()) {
            throw SoakBroken{"module " + std::to_string(module) + " audit: " +
                         audit.disagreements.front().check + " on " +
                         audit.disagreements.front().key.stringValue()};
         }
      }
      if (!settled) return;
      // Until the flash download, what the chip matches is the previous run's entries: the
      // packets meet what they met when the agent went down.
      if (warm_) {
         hits_.expectSameAsAtRestart("before the flash download");
         return;
      }
      hits_.expectEveryRuleHit();
   }

   std::mt19937_64 random_;
   std::ostream* log_;
   static constexpr std::size_t recentKept = 16;
   std::deque<std::string> recent_;
   SimulatedSwitch switch_;
   std::map<uint16_t, Rule> rules_;
   bool warm_ = false;  // restarted warm, the flash download not done yet
   // The packets are sent while the agent works, a few per look: not in a cold restart, which
   // clears the chip, nor in a flash download, whose failed rules lose their packets before
   // their answers are read.
   bool trafficWatched_ = false;
   static constexpr std::size_t packetsPerLook = 16;
   SoakHits hits_{switch_, rules_};
   uint16_t nextChurnUid_ = firstChurnUid;
   // The agent runs in a process of its own, which the soak kills and holds.
   bool process_;
   std::vector<SoakHits::Seen> hitBeforeCrash_;
   std::size_t crashesSeen_ = 0;
   std::size_t crashesChecked_ = 0;
};

}  // namespace

SoakResult runChurnSoak(uint64_t seed, uint32_t steps, std::ostream* log,
                        const std::string& agentProgram) {
   SoakResult result;
   result.seed = seed;
   const Kiv::ActivityGuard framework(Kiv::activityLock());
   {
      Soak soak(seed, log, agentProgram);
      for (; result.stepsRun < steps; ++result.stepsRun) {
         try {
            soak.doStep();
         } catch (const SoakBroken& broken) {
            result.failure = "step " + std::to_string(result.stepsRun) + ": " + broken.what;
            result.lastSteps.assign(soak.recent().begin(), soak.recent().end());
            break;
         }
      }
   }
   Kiv::eventLoop().workDelAll();
   return result;
}

}  // namespace Simulator

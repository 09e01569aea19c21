#include "simulator/switch/churn_soak.h"

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

namespace Simulator {
namespace {

constexpr uint16_t maxUid = 48;
constexpr uint16_t spareModule = 3;

// A check that failed, with what was seen.
struct Broken {
   std::string what;
};

class Soak {
public:
   Soak(uint64_t seed, std::ostream* log)
       : random_(seed),
         log_(log),
         switch_(SimulatedSwitch::Config{.natEntries = 96, .pipes = 2, .modules = {1, 2}}) {}

   void doStep() {
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
      } else {
         doHeal();
      }
      if (warm_ && below(3) == 0) doFlashDownload();
      check();
   }

private:
   uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(random_); }
   void say(const std::string& text) {
      if (log_) *log_ << text << "\n";
   }

   // A rule for `uid`: its key fields fixed by the uid, its data drawn afresh.
   Rule ruleFor(uint16_t uid) {
      Generate generate;
      generate.seed = uid;
      generate.uids = {uid};
      // A rule may name the spare module while it is out: it gets the rule when it comes.
      generate.modules = {1, 2};
      if (below(2) == 0) generate.modules.push_back(spareModule);
      Rule rule = generatedRules(generate).front();
      if (!rule.vlans.empty()) {
         rule.vlans.clear();
         for (uint16_t vlan : {10, 20, 30, 40}) {
            if (below(2) == 0) rule.vlans.push_back(vlan);
         }
         if (rule.vlans.empty()) rule.vlans.push_back(10);
      }
      rule.keys.assign(1 + below(3), KeyOverride{});
      rule.nextHop = below(3) == 0 ? nextHopNone : below(50);
      return rule;
   }

   // Framework work may run inside one of the commit's SDK calls.
   void maybeWorkDuringACall() {
      if (below(4) != 0) return;
      static constexpr Shim::Operation operations[] = {
          Shim::Operation::entryCreate, Shim::Operation::qualifyL3Ingress,
          Shim::Operation::actionAdd, Shim::Operation::entryInstall};
      Shim::sdk_.faultInjector().workDuringNthCallIs(operations[below(4)], 1 + below(3));
   }

   void settle() {
      switch_.doSettle();
      Shim::sdk_.faultInjector().faultDelAll();
   }

   void doPublish() {
      const auto uid = static_cast<uint16_t>(1 + below(maxUid));
      Rule rule = ruleFor(uid);
      say("publish " + std::to_string(uid) + (rules_.contains(uid) ? " (change)" : " (new)"));
      rules_[uid] = rule;
      maybeWorkDuringACall();
      switch_.controlPlane().ruleIs(natRuleOf(rule));
      settle();
   }

   void doDelete() {
      if (rules_.empty()) return;
      auto victim = rules_.begin();
      std::advance(victim, below(static_cast<uint32_t>(rules_.size())));
      say("delete " + std::to_string(victim->first));
      switch_.controlPlane().ruleRemovalIs(TesselNat::Uid(victim->first));
      rules_.erase(victim);
      maybeWorkDuringACall();
      settle();
   }

   void doRetryFailed() {
      say("retry failed rules");
      for (const auto& [uid, rule] : rules_) {
         if (failed(uid)) switch_.controlPlane().ruleRetryIs(TesselNat::Uid(uid));
      }
      settle();
   }

   // Frees room until every rule is programmed: deletes rules while a retry still fails.
   void doHeal() {
      say("heal");
      for (int round = 0; round < 64 && anyFailed(); ++round) {
         auto victim = rules_.begin();
         std::advance(victim, below(static_cast<uint32_t>(rules_.size())));
         switch_.controlPlane().ruleRemovalIs(TesselNat::Uid(victim->first));
         rules_.erase(victim);
         settle();
         doRetryFailed();
      }
   }

   // The pending set of a rule reads as corrupt once: the programmer reports it and answers
   // without programming, and the control plane, told of the corruption, publishes the rule
   // again.
   void doCorruptRead() {
      // The hitless phase commits without reading the pending set.
      if (rules_.empty() || warm_) return;
      auto target = rules_.begin();
      std::advance(target, below(static_cast<uint32_t>(rules_.size())));
      const uint16_t uid = target->first;
      say("corrupt the pending-set read of " + std::to_string(uid));
      ControlPlane::NatControlPlane& controlPlane = switch_.controlPlane();
      const U32 reportsBefore = controlPlane.ingModSetDir()->corruptionReports();
      controlPlane.ingModSetDir()->corruptionOnLookupIs(uid);
      target->second = ruleFor(uid);
      controlPlane.ruleIs(natRuleOf(target->second));
      settle();
      if (controlPlane.ingModSetDir()->corruptionReports() == reportsBefore) {
         throw Broken{"a corrupt pending-set read was not reported"};
      }
      controlPlane.ruleIs(natRuleOf(target->second));
      settle();
   }

   void doModuleChange() {
      if (switch_.modules().contains(spareModule)) {
         say("remove module 3");
         switch_.moduleDel(spareModule);
         // Its chip went with it: what it held before the restart is gone for good.
         hittingModules_.erase(spareModule);
      } else {
         say("add module 3");
         switch_.moduleIs(spareModule);
      }
   }

   // A rule failed for a full TCAM can take, in the hitless pass, the room of one that was
   // programmed: room is made first, so that every rule that hits keeps hitting.
   void doWarmRestart() {
      if (!warm_) doHeal();
      say(warm_ ? "warm restart again, before the flash download" : "warm restart");
      if (!warm_) {
         hittingModules_ = switch_.modules();
         hittingAtRestart_.clear();
         for (uint16_t uid : hittingRules()) hittingAtRestart_.emplace(uid, rules_.at(uid));
      }
      switch_.doRestart(true);
      warm_ = true;
      expectStillHit(hittingAtRestart_, "after a warm restart");
   }

   void doFlashDownload() {
      say("flash download");
      std::map<uint16_t, Rule> before;
      for (uint16_t uid : hittingRules()) before.emplace(uid, rules_.at(uid));
      hittingModules_ = switch_.modules();
      switch_.doFlashDownload();
      warm_ = false;
      expectStillHit(before, "after the flash download");
   }

   void doColdRestart() {
      say("cold restart");
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

   // Does a packet for the rule hit an entry with its uid on every module of it in `modules`
   // (those in the switch by default), on every VLAN of it?
   bool hits(const Rule& rule, const std::set<uint16_t>* modules = nullptr) {
      if (!modules) modules = &switch_.modules();
      const std::vector<uint16_t> vlans =
          rule.vlans.empty() ? std::vector<uint16_t>{7} : rule.vlans;
      for (uint16_t module : rule.modules) {
         if (!modules->contains(module)) continue;
         for (uint16_t vlan : vlans) {
            const auto match =
                switch_.chip().classify(module, chipPacketOf(packetFor(rule, module, vlan)));
            if (!match) return false;
            const auto* uid = match->actions.find(Shim::sdk_.bcmFieldActionAssignOpaqueObject1());
            if (!uid || uid->param0 != rule.uid) return false;
         }
      }
      return true;
   }

   std::set<uint16_t> hittingRules() {
      std::set<uint16_t> hitting;
      for (const auto& [uid, rule] : rules_) {
         if (!failed(uid) && hits(rule)) hitting.insert(uid);
      }
      return hitting;
   }

   // The rules as they hit before, on the modules that were there: a change made since, and
   // a module come since, match only once the flash download places them.
   void expectStillHit(const std::map<uint16_t, Rule>& before, const char* when) {
      for (const auto& [uid, rule] : before) {
         if (!rules_.contains(uid)) continue;
         if (!hits(rule, &hittingModules_)) throw Broken{"uid " + std::to_string(uid) + " misses " + when};
      }
   }

   void check() {
      ControlPlane::NatControlPlane& controlPlane = switch_.controlPlane();
      if (controlPlane.outstandingRequests() != 0) {
         throw Broken{std::to_string(controlPlane.outstandingRequests()) +
                      " request(s) unanswered"};
      }
      for (U16 module : switch_.modules()) {
         const auto programmer = switch_.programmer(module);
         if (!programmer) throw Broken{"module " + std::to_string(module) + " has no programmer"};
         const std::set<U32> recorded = programmer->entryIds();
         const auto manager = switch_.natEntryManager();
         if (manager->entriesHeld(module) != recorded) {
            throw Broken{"module " + std::to_string(module) +
                         " holds other entries than it records"};
         }
         const Quill::QuillShoalStatusDir& answers = *programmer->quillShoalStatusDir();
         Quill::QuillShoalKey key;
         Shoal::IterHint hint;
         for (bool more = answers.first(key, hint); more; more = answers.next(key, hint)) {
            if (!controlPlane.quillShoalConfigDir()->quillConfigHas(key)) {
               throw Broken{"module " + std::to_string(module) + " keeps the answer of uid " +
                            std::to_string(key.uid()) + ", whose request is gone"};
            }
         }
         if (!warm_ && switch_.chip().entryCount(module) != recorded.size()) {
            throw Broken{"module " + std::to_string(module) + ": the chip holds " +
                         std::to_string(switch_.chip().entryCount(module)) + " entries, " +
                         std::to_string(recorded.size()) + " recorded"};
         }
      }
      if (anyFailed()) return;
      for (U16 module : switch_.modules()) {
         const auto found = switch_.audit(module);
         if (!found.empty()) {
            throw Broken{"module " + std::to_string(module) + " audit: " + found.front().check +
                         " on " + found.front().key.stringValue()};
         }
      }
      // Until the flash download, what the chip matches is the previous run's entries: the
      // rules that hit when the agent went down.
      if (warm_) {
         expectStillHit(hittingAtRestart_, "before the flash download");
         return;
      }
      for (const auto& [uid, rule] : rules_) {
         if (!hits(rule)) throw Broken{"uid " + std::to_string(uid) + " is not hit"};
      }
   }

   std::mt19937_64 random_;
   std::ostream* log_;
   SimulatedSwitch switch_;
   std::map<uint16_t, Rule> rules_;
   bool warm_ = false;  // restarted warm, the flash download not done yet
   std::map<uint16_t, Rule> hittingAtRestart_;
   std::set<uint16_t> hittingModules_;  // the modules hittingAtRestart_ was seen on
};

}  // namespace

SoakResult runChurnSoak(uint64_t seed, uint32_t steps, std::ostream* log) {
   SoakResult result;
   result.seed = seed;
   const Kiv::ActivityGuard framework(Kiv::activityLock());
   {
      Soak soak(seed, log);
      for (; result.stepsRun < steps; ++result.stepsRun) {
         try {
            soak.doStep();
         } catch (const Broken& broken) {
            result.failure = "step " + std::to_string(result.stepsRun) + ": " + broken.what;
            break;
         }
      }
   }
   Kiv::eventLoop().workDelAll();
   return result;
}

}  // namespace Simulator

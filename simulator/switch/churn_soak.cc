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
// Uids of short-lived rules, published and deleted by the thousand: over a run more uids come
// and go than a status directory holds answers.
constexpr uint16_t firstChurnUid = 1000;
constexpr uint16_t churnBatch = 1024;

// Pairs of rules that overlap: uid 4k - 1 translates an inside host, uid 4k one flow of it.
bool isHostRule(uint16_t uid) { return uid % 4 == 3; }
bool isFlowRule(uint16_t uid) { return uid % 4 == 0; }

// A check that failed, with what was seen.
struct Broken {
   std::string what;
};

class Soak {
public:
   Soak(uint64_t seed, std::ostream* log, const std::string& agentProgram)
       : random_(seed),
         log_(log),
         switch_(SimulatedSwitch::Config{.natEntries = 96,
                                         .pipes = 2,
                                         .modules = {1, 2},
                                         .changeRingEntries = changeRingEntries(),
                                         .agentProgram = agentProgram,
                                         // A failure's replay shows what the agent said.
                                         .agentOutput = log ? "" : "/dev/null"}),
         process_(!agentProgram.empty()) {}

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
      } else if (pick < 99 || below(3) != 0) {
         doHeal();
      } else {
         doUidChurn();
      }
      if (warm_ && below(3) == 0) doFlashDownload();
      check();
   }

private:
   // A packet built for a rule on one module, and the uid of the entry it hit (0: none).
   struct Seen {
      uint16_t uid;
      uint16_t module;
      Packet packet;
      uint32_t hitUid;
   };

   uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(random_); }

   // Half the seeds run with change rings of a few entries, so that the agent's mounts learn
   // most changes by resyncing, coalesced, in entry order rather than the writer's.
   uint32_t changeRingEntries() {
      return below(2) == 0 ? Shoal::TableHeader::defaultRingEntries : 1 + below(4);
   }
   void say(const std::string& text) {
      if (log_) *log_ << text << std::endl;
   }

   // A rule for `uid`: its key fields fixed by the uid, its data drawn afresh.
   Rule ruleFor(uint16_t uid) {
      Generate generate;
      generate.seed = uid;
      generate.uids = {uid};
      // Half the rules name the spare module, also while it is out: it gets them when it
      // comes. A rule's modules never change (that takes a delete and an add).
      generate.modules = {1, 2};
      if (uid % 2 == 1) generate.modules.push_back(spareModule);
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
      if (isHostRule(uid) || isFlowRule(uid)) overlappingIs(rule);
      return rule;
   }

   // A host rule matches every packet of its inside host; its flow rule matches one of them.
   static void overlappingIs(Rule& rule) {
      const uint16_t host = isHostRule(rule.uid) ? rule.uid : rule.uid - 1;
      const Endpoint inside{0x0A640000u | host, 0};
      rule.filter = Prefix{};
      rule.vlans.clear();
      rule.keys.resize(1);
      if (isHostRule(rule.uid)) {
         rule.type = RuleType::staticSrcNat;
         rule.src = inside;
         rule.srcNew = Endpoint{0xC6330000u | host, 0};
         rule.dst = rule.dstNew = std::nullopt;
         rule.protocol = rule.dynProto = 0;
         return;
      }
      rule.type = RuleType::dynamicSrcNat;
      rule.src = Endpoint{inside.ip, 5000};
      rule.srcNew = Endpoint{0xC6330000u | host, 7000};
      rule.dst = rule.dstNew = Endpoint{0x08080808u, 53};
      rule.dynProto = 17;
      rule.protocol = 0;
   }

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
         if (controlPlane.ruleIs(natRuleOf(rule))) throw Broken{"a churn rule was refused"};
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
      hitBeforeCrash_ = whatPacketsHit();
   }

   // After the commit of `uid`: a crash is a warm restart in the middle of it (and one left
   // down is started again once the control plane has written meanwhile); a held agent goes
   // on once the control plane has written on; a plan that did not fire is withdrawn.
   void faultFollow(Fault fault, uint16_t uid) {
      if (fault == Fault::crash && switch_.crashes().size() != crashesSeen_) {
         crashesSeen_ = switch_.crashes().size();
         say("  crashed");
         if (!warm_) {
            hitAtRestart_ = std::move(hitBeforeCrash_);
            changedSinceRestart_ = {uid};
            modulesAtRestart_ = switch_.modules();
            warm_ = true;
         }
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
      expectSameHits(hitAtRestart_, "while the new agent reconciles");
      doWritesWhileHeld(0);
      const bool flashDownload = below(3) == 0;
      if (flashDownload) {
         say("  flash download requested");
         switch_.doFlashDownload();
      }
      switch_.pauseEnd();
      settle();
      if (flashDownload) flashDownloadDone(hitAtRestart_);
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
      changedSinceRestart_.insert(rule.uid);
      if (switch_.controlPlane().ruleIs(natRuleOf(rule))) throw Broken{"a rule was refused"};
   }

   void deleted(uint16_t uid) {
      switch_.controlPlane().ruleRemovalIs(TesselNat::Uid(uid));
      changedSinceRestart_.insert(uid);
      rules_.erase(uid);
   }

   void doPublishOnly() {
      const auto uid = static_cast<uint16_t>(1 + below(maxUid));
      say("  publish " + std::to_string(uid) + " meanwhile");
      published(ruleFor(uid));
   }

   void settle() {
      switch_.doSettle();
      Shim::sdk_.faultInjector().faultDelAll();
   }

   void doPublish() {
      const auto uid = static_cast<uint16_t>(1 + below(maxUid));
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
         if (failed(uid)) switch_.controlPlane().ruleRetryIs(TesselNat::Uid(uid));
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
      changedSinceRestart_.insert(uid);
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
         modulesAtRestart_.erase(spareModule);
      } else {
         say("add module 3");
         switch_.moduleIs(spareModule);
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
         hitAtRestart_ = whatPacketsHit();
         changedSinceRestart_.clear();
         modulesAtRestart_ = switch_.modules();
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
      if (warm_) expectSameHits(hitAtRestart_, "after a warm restart");
   }

   // An agent process may be killed in the middle of it: the agent started after it waits
   // for a flash download of its own.
   void doFlashDownload() {
      const bool crash = process_ && below(4) == 0;
      say(crash ? "flash download, the agent killed in it" : "flash download");
      if (crash) {
         switch_.crashIs(AgentControl::CrashPoint::flashDownload, 1 + below(4), true);
      }
      const std::vector<Seen> before = whatPacketsHit();
      switch_.doFlashDownload();
      if (crash && switch_.crashes().size() != crashesSeen_) {
         crashesSeen_ = switch_.crashes().size();
         expectSameHits(before, "after a crash in the flash download");
         // Some units may have taken the dead agent's entries: the next agent starts from
         // what the packets meet now, those of rules changed since the restart aside.
         hitAtRestart_ = whatPacketsHit();
         modulesAtRestart_ = switch_.modules();
         return;
      }
      flashDownloadDone(before);
   }

   void flashDownloadDone(const std::vector<Seen>& before) {
      warm_ = false;
      expectSameHits(before, "after the flash download");
      changedSinceRestart_.clear();
   }

   void doColdRestart() {
      say("cold restart");
      switch_.doRestart(false);
      warm_ = false;
   }

   bool failed(uint16_t uid) {
      return switch_.controlPlane().answer(TesselNat::Uid(uid)) == ControlPlane::Answer::failed;
   }
   // A rule a module failed since (its room taken by rules published while the agent was
   // down or reconciling) loses its packets at the flash download, as the module answered.
   bool failedNow(uint16_t uid) { return rules_.contains(uid) && failed(uid); }
   bool anyFailed() {
      for (const auto& [uid, rule] : rules_) {
         if (failed(uid)) return true;
      }
      return false;
   }

   uint32_t uidHit(uint16_t module, const Packet& packet) {
      const auto match = switch_.chip().classify(module, chipPacketOf(packet));
      if (!match) return 0;
      const auto* uid = match->actions.find(Shim::sdk_.bcmFieldActionAssignOpaqueObject1());
      return uid ? uid->param0 : 0;
   }

   // What the packets of every programmed rule hit, on every module in the switch that the
   // rule names and every VLAN of it.
   std::vector<Seen> whatPacketsHit() {
      std::vector<Seen> seen;
      for (const auto& [uid, rule] : rules_) {
         if (failed(uid)) continue;
         const std::vector<uint16_t> vlans =
             rule.vlans.empty() ? std::vector<uint16_t>{7} : rule.vlans;
         for (uint16_t module : rule.modules) {
            if (!switch_.modules().contains(module)) continue;
            for (uint16_t vlan : vlans) {
               const Packet packet = packetFor(rule, module, vlan);
               seen.push_back({uid, module, packet, uidHit(module, packet)});
            }
         }
      }
      return seen;
   }

   // Each packet that hit a rule hits it still, unless its rule, or the rule it hit, changed
   // or failed since, or a rule changed since now sits before it, or its module came after
   // the last warm restart (its entries wait for the flash download).
   void expectSameHits(const std::vector<Seen>& before, const char* when) {
      for (const Seen& seen : before) {
         if (changedSinceRestart_.contains(seen.uid) ||
             changedSinceRestart_.contains(static_cast<uint16_t>(seen.hitUid)) ||
             !modulesAtRestart_.contains(seen.module) || seen.hitUid == 0 ||
             failedNow(seen.uid) || failedNow(static_cast<uint16_t>(seen.hitUid))) {
            continue;
         }
         const uint32_t now = uidHit(seen.module, seen.packet);
         // A rule published since may sit before the one the packet hit, as it would have
         // without a restart.
         if (now != seen.hitUid && !changedSinceRestart_.contains(static_cast<uint16_t>(now))) {
            throw Broken{"a packet of uid " + std::to_string(seen.uid) + " on module " +
                         std::to_string(seen.module) + " hit uid " + std::to_string(seen.hitUid) +
                         " and hits " + std::to_string(now) + " " + when};
         }
      }
   }

   // A packet of a rule hits the rule, or the rule it overlaps with when that one sits first.
   void expectEveryRuleHit() {
      for (const Seen& seen : whatPacketsHit()) {
         const bool byHost = isFlowRule(seen.uid) && seen.hitUid == seen.uid - 1u;
         if (seen.hitUid != seen.uid && !byHost) {
            throw Broken{"a packet of uid " + std::to_string(seen.uid) + " on module " +
                         std::to_string(seen.module) + " hits " +
                         (seen.hitUid == 0 ? "nothing" : "uid " + std::to_string(seen.hitUid))};
         }
      }
   }

   // What the checks read comes from where a person at the switch would read it: the agent's
   // command socket, the control plane's mounts and the chip.
   void check() {
      for (; crashesChecked_ < switch_.crashes().size(); ++crashesChecked_) {
         const SimulatedSwitch::Crash& crash = switch_.crashes()[crashesChecked_];
         if (!crash.planned) throw Broken{"the agent died unplanned: " + crash.end};
      }
      ControlPlane::NatControlPlane& controlPlane = switch_.controlPlane();
      if (controlPlane.outstandingRequests() != 0) {
         std::string uids;
         for (const auto& [uid, rule] : rules_) {
            if (controlPlane.answer(TesselNat::Uid(uid)) == ControlPlane::Answer::waiting) {
               uids += " " + std::to_string(uid);
            }
         }
         throw Broken{std::to_string(controlPlane.outstandingRequests()) +
                      " request(s) unanswered, of uids" + (uids.empty() ? " being deleted" : uids)};
      }
      const bool settled = !anyFailed();
      for (U16 module : switch_.modules()) {
         const SimulatedSwitch::ModuleAudit audit = switch_.moduleAudit(module);
         const SimulatedSwitch::EntryAccount& account = audit.entries;
         if (account.held != account.recorded) {
            throw Broken{"module " + std::to_string(module) +
                         " holds other entries than it records"};
         }
         const Quill::QuillShoalStatusDir* answers =
             controlPlane.statusDir(TesselCentral::ModId(module));
         if (!answers) throw Broken{"module " + std::to_string(module) + " has no answers"};
         Quill::QuillShoalKey key;
         Shoal::IterHint hint;
         for (bool more = answers->first(key, hint); more; more = answers->next(key, hint)) {
            if (!controlPlane.quillShoalConfigDir()->quillConfigHas(key)) {
               throw Broken{"module " + std::to_string(module) + " keeps the answer of uid " +
                            std::to_string(key.uid()) + ", whose request is gone"};
            }
         }
         if (!warm_ && account.onChip != account.recorded) {
            throw Broken{"module " + std::to_string(module) + ": the chip holds " +
                         std::to_string(account.onChip.size()) + " entries, " +
                         std::to_string(account.recorded.size()) + " recorded"};
         }
         // A failed rule is partly programmed, as its module said.
         if (settled && !audit.disagreements.empty()) {
            throw Broken{"module " + std::to_string(module) + " audit: " +
                         audit.disagreements.front().check + " on " +
                         audit.disagreements.front().key.stringValue()};
         }
      }
      if (!settled) return;
      // Until the flash download, what the chip matches is the previous run's entries: the
      // packets meet what they met when the agent went down.
      if (warm_) {
         expectSameHits(hitAtRestart_, "before the flash download");
         return;
      }
      expectEveryRuleHit();
   }

   std::mt19937_64 random_;
   std::ostream* log_;
   SimulatedSwitch switch_;
   std::map<uint16_t, Rule> rules_;
   bool warm_ = false;  // restarted warm, the flash download not done yet
   std::vector<Seen> hitAtRestart_;
   // Uids published or deleted since the last warm restart of a settled switch.
   std::set<uint16_t> changedSinceRestart_;
   std::set<uint16_t> modulesAtRestart_;  // in the switch since then
   uint16_t nextChurnUid_ = firstChurnUid;
   // The agent runs in a process of its own, which the soak kills and holds.
   bool process_;
   std::vector<Seen> hitBeforeCrash_;
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

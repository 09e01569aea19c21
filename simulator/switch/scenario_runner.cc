#include "simulator/switch/scenario_runner.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "simulator/command_line/exit_status.h"
#include "simulator/switch/dump_table.h"
#include "simulator/switch/chip_entries.h"
#include "simulator/switch/held_rules.h"
#include "simulator/switch/near_misses.h"
#include "simulator/switch/rule_conversion.h"
#include "simulator/switch/rule_generator.h"
#include "simulator/switch/step_text.h"

namespace Simulator {
namespace {

template <class... F>
struct Overloaded : F... {
   using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

SimulatedSwitch::Config switchConfig(const Scenario& scenario,
                                     const ScenarioRunner::Options& options) {
   SimulatedSwitch::Config config;
   config.agentProgram = options.agentProgram;
   config.commandSocket = options.commandSocket;
   config.agentArguments = options.agentArguments;
   config.natEntries = scenario.chip.natEntries;
   config.pipes = scenario.chip.pipes;
   config.copiesPerPipe = scenario.chip.copiesPerPipe;
   config.modules = {scenario.modules.begin(), scenario.modules.end()};
   config.flashDownloadDone = scenario.flashDownloadDone;
   return config;
}

// The packet's address after the chip's rewrite of it: the rule's new address where the chip
// rewrites the address, and the rule's new port where it rewrites the port and the rule gives
// one (a rule's port 0 leaves the port as it is).
Endpoint rewritten(const Endpoint& address, const std::optional<Endpoint>& to, bool ip, bool port) {
   if (!to) return address;
   return Endpoint{ip ? to->ip : address.ip, port && to->port != 0 ? to->port : address.port};
}

// With the rule's next hop beside the egress object the plug-in made of it: the next hop
// plus 100000, or a multipath one's plus 200000.
std::string forwardingText(const ::Chip::PacketOutcome& outcome) {
   if (outcome.forwarding == ::Chip::Forwarding::drop) return "drop";
   if (outcome.forwarding == ::Chip::Forwarding::l3Switch) {
      const U32 egress = outcome.egressObject;
      std::string text = "l3-switch " + std::to_string(egress);
      if (egress >= 200000) {
         text += " (multipath next hop " + std::to_string(egress - 200000) + ")";
      } else if (egress >= 100000) {
         text += " (next hop " + std::to_string(egress - 100000) + ")";
      }
      return text;
   }
   return "unchanged";
}

AgentControl::CrashPoint crashPointOf(Crash::At at) {
   switch (at) {
      case Crash::At::now: return AgentControl::CrashPoint::none;
      case Crash::At::sdkCall: return AgentControl::CrashPoint::sdkCall;
      case Crash::At::commitPass: return AgentControl::CrashPoint::commitPass;
      case Crash::At::flashDownload: return AgentControl::CrashPoint::flashDownload;
   }
   return AgentControl::CrashPoint::none;
}

const char* crashPointText(AgentControl::CrashPoint point) {
   switch (point) {
      case AgentControl::CrashPoint::none: return "killed";
      case AgentControl::CrashPoint::sdkCall: return "killed at its planned SDK call";
      case AgentControl::CrashPoint::commitPass: return "killed in its commit pass";
      case AgentControl::CrashPoint::flashDownload: return "killed in the flash download";
   }
   return "killed";
}

void drawProgress(std::ostream& progress, std::size_t done, std::size_t total) {
   constexpr int width = 40;
   const int filled = static_cast<int>(width * done / total);
   progress << "\r[" << std::string(filled, '#') << std::string(width - filled, ' ') << "] " << done
            << "/" << total << std::flush;
}

}  // namespace

ScenarioRunner::ScenarioRunner(const Scenario& scenario, std::ostream& out, Options options)
    : scenario_(scenario),
      events_(out, options.format),
      options_(std::move(options)),
      switch_(std::make_unique<SimulatedSwitch>(switchConfig(scenario, options_))),
      sessions_(scenario.pools) {
   // However soon a stopped or crashed agent's successor starts, each flow meets the switch
   // without one.
   switch_->whileAgentDownIs([this] {
      if (traffic_) traffic_->doSend(traffic_->flows());
   });
}

ScenarioRunner::~ScenarioRunner() = default;

int ScenarioRunner::doRun() {
   for (const Step& step : scenario_.steps) {
      if (options_.stop && *options_.stop) {
         events_.note("interrupted before " + step.path);
         return ExitStatus::checkFailed;
      }
      ++stepsRun_;
      doStep(step);
      doAgeSessions();
      reportLostAnswers();
      const std::size_t crashes = switch_->crashes().size();
      reportCrashes();
      reportTraffic(std::holds_alternative<Restart>(step.action) ||
                    std::holds_alternative<FlashDownload>(step.action) ||
                    crashes != crashesSeen_);
      crashesSeen_ = crashes;
   }
   reportSummary();
   if (status_ == ExitStatus::ok && differs_) return ExitStatus::notAsIntended;
   return status_;
}

void ScenarioRunner::doStep(const Step& step) {
   const auto say = [&](const std::string& what) {
      events_.step(step.path, what, step.name, step.source);
   };
   std::visit(
       Overloaded{
           [&](const AddRule& add) {
              say("add " + ruleText(add.rule));
              doPublish(add.rule);
           },
           [&](const UpdateRule& update) {
              say("update " + ruleText(update.rule));
              doPublish(update.rule);
           },
           [&](const Retry& retry) {
              say("retry uid " + std::to_string(retry.uid));
              if (!live(retry.uid)) return;
              switch_->controlPlane().ruleRetryIs(TesselNat::Uid(retry.uid));
              switch_->doSettle();
              reportAnswers(retry.uid, rules_.at(retry.uid).modules);
           },
           [&](const Delete& remove) {
              say("delete uid " + std::to_string(remove.uid));
              refused_.erase(remove.uid);
              if (!live(remove.uid)) return;
              const std::vector<uint16_t> modules = rules_.at(remove.uid).modules;
              switch_->controlPlane().ruleRemovalIs(TesselNat::Uid(remove.uid));
              switch_->doSettle();
              rules_.erase(remove.uid);
              reportAnswers(remove.uid, modules);
           },
           [&](const Show& show) {
              say("show module " + std::to_string(show.module) +
                  (show.format == Show::Format::table  ? " as a table"
                   : show.format == Show::Format::json ? " as JSON"
                                                       : ""));
              if (agentAnswers()) reportShow(show);
           },
           [&](const Verify& verify) {
              say("verify module " + std::to_string(verify.module));
              if (agentAnswers()) reportVerify(verify.module);
           },
           [&](const SendPacket& send) {
              say("packet " + packetText(send.packet));
              reportPacket(send.packet);
           },
           [&](const Generate& generate) {
              std::string what = "generate " + std::to_string(generate.rules) + " rules, seed " +
                                 std::to_string(generate.seed);
              for (std::size_t i = 0; i < generate.types.size(); ++i) {
                 what += (i == 0 ? ", types " : ",") + ruleTypeName(generate.types[i]);
              }
              what += ", up to " + std::to_string(generate.vlans) + " VLANs a destination rule";
              say(what);
              doGenerate(generate);
           },
           [&](const Restart& restart) {
              say(restart.warm ? "restart warm" : "restart cold");
              switch_->doAgentStop(restart.warm);
              switch_->doAgentStart(restart.warm);
              for (const auto& [uid, rule] : rules_) reportAnswers(uid, rule.modules);
              reportStaged();
           },
           [&](const FlashDownload&) {
              say("flash download");
              switch_->doFlashDownload();
           },
           [&](const Crash& crash) {
              say(crashText(crash));
              switch_->crashIs(crashPointOf(crash.at), crash.calls, crash.restart);
           },
           [&](const AddModule& add) {
              say("add module " + std::to_string(add.module));
              switch_->moduleIs(add.module);
              for (const auto& [uid, rule] : rules_) {
                 if (std::find(rule.modules.begin(), rule.modules.end(), add.module) !=
                     rule.modules.end()) {
                    reportAnswers(uid, {add.module});
                 }
              }
           },
           [&](const RemoveModule& remove) {
              say("remove module " + std::to_string(remove.module));
              switch_->moduleDel(remove.module);
           },
           [&](const Traffic& traffic) {
              say("traffic " + std::to_string(traffic.flows.size()) + " flows at " +
                  std::to_string(traffic.rate) + " packets a second");
              std::vector<TrafficSource::Flow> flows;
              for (const Packet& packet : traffic.flows) {
                 flows.push_back({packet.module, chipPacketOf(packet)});
              }
              traffic_.reset();
              traffic_ = std::make_unique<TrafficSource>(switch_->chip(), flows, traffic.rate);
              trafficFlows_ = traffic.flows;
           },
           [&](const ListRules&) {
              say("rules");
              reportRules();
           },
           [&](const Diff&) {
              say("diff");
              reportDiff();
           },
           [&](const ListSessions&) {
              say("sessions");
              reportSessions();
           },
           [&](const ClearHits&) {
              say("clear hits");
              for (const U16 module : switch_->modules()) switch_->chip().hitCountsClear(module);
           },
           [&](const ExpectHits& expect) {
              say("expect module " + std::to_string(expect.module) + " uid " +
                  std::to_string(expect.uid) + " hits " + std::to_string(expect.hits));
              reportExpectedHits(expect);
           },
           [&](const TcamUse&) {
              say("tcam");
              HeldRules& held = heldRules();
              for (const U16 module : switch_->modules()) {
                 const DiffLine line = useLine(held.use(module));
                 events_.event("tcam", line.text, line.fields);
              }
           },
       },
       step.action);
}

void ScenarioRunner::doPublish(const Rule& rule) {
   if (const std::optional<std::string> refusal = switch_->controlPlane().ruleIs(natRuleOf(rule))) {
      events_.refused(rule.uid, *refusal);
      ++requests_.refused;
      refused_[rule.uid] = {rule, *refusal};
      return;
   }
   refused_.erase(rule.uid);
   rules_[rule.uid] = rule;
   switch_->doSettle();
   reportAnswers(rule.uid, rule.modules);
}

bool ScenarioRunner::agentAnswers() {
   if (switch_->agentUp()) return true;
   events_.note("the agent is down: nothing to ask");
   return false;
}

bool ScenarioRunner::live(uint16_t uid) {
   if (rules_.contains(uid)) return true;
   events_.note("uid " + std::to_string(uid) + " was refused: nothing to do");
   return false;
}

// Published in batches: after each, the control plane reads the answers so far and lets at
// most two batches' requests wait unanswered, so that the agent works while it publishes and
// the progress bar moves; the last batch is run to its answers. The answers are counted, not
// written one by one.
void ScenarioRunner::doGenerate(const Generate& generate) {
   const std::vector<Rule> rules = generatedRules(generate);
   constexpr std::size_t batch = 256;
   const auto start = std::chrono::steady_clock::now();
   std::size_t refused = 0;
   for (std::size_t i = 0; i < rules.size(); ++i) {
      if (generate.list) {
         const std::string text = ruleText(rules[i]);
         events_.event("made", "made " + text, {{"uid", rules[i].uid}, {"rule", text}});
      }
      if (std::optional<std::string> refusal = switch_->controlPlane().ruleIs(natRuleOf(rules[i]))) {
         ++refused;
         refused_[rules[i].uid] = {rules[i], std::move(*refusal)};
      } else {
         rules_[rules[i].uid] = rules[i];
      }
      const bool last = i + 1 == rules.size();
      if (!last && (i + 1) % batch != 0) continue;
      if (last) {
         switch_->doSettle();
      } else {
         switch_->doCatchUp(2 * batch);
      }
      if (options_.progress) drawProgress(*options_.progress, i + 1, rules.size());
   }
   const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
   if (options_.progress) *options_.progress << "\n";
   std::size_t failed = 0;
   for (const Rule& rule : rules) {
      if (!rules_.contains(rule.uid)) continue;
      const ControlPlane::Answer answer = switch_->controlPlane().answer(TesselNat::Uid(rule.uid));
      failed += answer == ControlPlane::Answer::failed ? 1 : 0;
      tallyAnswers(rule.uid, rule.modules);
   }
   requests_.refused += refused;
   const std::size_t programmed = rules.size() - failed - refused;
   std::ostringstream text;
   text.precision(3);
   text << "generated " << rules.size() << " rules: " << programmed << " programmed, " << failed
        << " failed, " << refused << " refused";
   nlohmann::ordered_json fields{{"rules", rules.size()},
                                 {"programmed", programmed},
                                 {"failed", failed},
                                 {"refused", refused}};
   if (options_.timing) {
      const auto rate = static_cast<long>(rules.size() / took.count());
      text << ", in " << std::fixed << took.count() << " s (" << rate << " rules/s)";
      fields["seconds"] = took.count();
      fields["rulesPerSecond"] = rate;
   }
   events_.event("generated", text.str(), fields);
}

void ScenarioRunner::reportAnswers(uint16_t uid, const std::vector<uint16_t>& modules) {
   tallyAnswers(uid, modules, &events_);
}

// A module out of the switch is asked when it comes back.
void ScenarioRunner::tallyAnswers(uint16_t uid, const std::vector<uint16_t>& modules,
                                  EventWriter* events) {
   for (const uint16_t module : modules) {
      if (!switch_->modules().contains(module)) continue;
      const ModuleAnswer answer = moduleAnswer(*switch_, uid, module);
      if (answer.kind == ModuleAnswer::Kind::waiting) {
         if (events) events->waiting(module, uid);
         continue;
      }
      if (answer.kind == ModuleAnswer::Kind::unanswered) {
         if (events) events->unanswered(module, uid);
         ++requests_.unanswered;
         status_ = ExitStatus::checkFailed;
         continue;
      }
      if (events && answer.result == 2 && rules_.contains(uid)) {
         const RuleOnModule held = heldRules().ruleOn(rules_.at(uid), module);
         events->status(module, uid, answer.result, &held);
      } else if (events) {
         events->status(module, uid, answer.result);
      }
      if (answer.result == 1) ++requests_.answered1;
      if (answer.result == 2) ++requests_.answered2;
   }
}

// A status write the directory refuses leaves a request unanswered for good: never silent.
void ScenarioRunner::reportLostAnswers() {
   for (const U16 module : switch_->modules()) {
      const Quill::QuillShoalStatusDir* found =
          switch_->controlPlane().statusDir(TesselCentral::ModId(module));
      if (!found) continue;
      const Quill::QuillShoalStatusDir& dir = *found;
      LostSeen& seen = lostSeen_[module];
      if (seen.table != dir.sharedState().get()) seen = LostSeen{dir.sharedState().get(), 0};
      if (dir.capacityReports() == seen.reports) continue;
      events_.answersLost(module, dir.capacityReports() - seen.reports);
      requests_.lost += dir.capacityReports() - seen.reports;
      seen.reports = dir.capacityReports();
      status_ = ExitStatus::checkFailed;
   }
}

// As the agent's command socket answers it.
void ScenarioRunner::reportShow(const Show& show) {
   const std::string dump =
       switch_->agentAnswer("TesselNat " + std::to_string(show.module) + " show");
   const DumpFormat format = show.format == Show::Format::table  ? DumpFormat::table
                             : show.format == Show::Format::json ? DumpFormat::json
                                                                 : DumpFormat::dump;
   events_.show(show.module, dump, dumpText(format, dump));
}

void ScenarioRunner::reportCrashes() {
   const std::vector<SimulatedSwitch::Crash>& crashes = switch_->crashes();
   for (std::size_t i = crashesSeen_; i < crashes.size(); ++i) {
      events_.note(std::string("the agent ") +
                   (crashes[i].planned ? std::string("was ") + crashPointText(crashes[i].point)
                                       : std::string("died")) +
                   " (" + crashes[i].end + ")" +
                   (switch_->agentUp() ? "; a new agent started warm" : "; the agent is down"));
   }
   if (crashes.size() == crashesSeen_ || !switch_->agentUp()) return;
   for (const auto& [uid, rule] : rules_) reportAnswers(uid, rule.modules);
   reportStaged();
}

// A rule the module answered "TCAM full" lacks the entries of the VLANs that did not fit, and
// the audit says so; that is a rule set that does not fit, not an agent in disagreement with
// itself, so those lines name the rule and do not fail the run.
void ScenarioRunner::reportVerify(uint16_t module) {
   const std::vector<Tessel::VerifyDisagreement> found = switch_->audit(module);
   if (found.empty()) {
      events_.verifyOk(module);
      return;
   }
   const auto notFitting = [&](const Tessel::VerifyDisagreement& d) -> uint16_t {
      if (d.check != "entry.defaultEntryIds() == shadowData.vlanIds()" &&
          d.check != "entry.defaultEntryIdHas( vlanId )") {
         return 0;
      }
      bool known = false;
      const U32 uid = switch_->controlPlane().hwKeyUidTable()->safeLookup(d.key, known).uid();
      if (!known || uid > 0xFFFF) return 0;
      const ModuleAnswer answer = moduleAnswer(*switch_, static_cast<uint16_t>(uid), module);
      const bool full = answer.kind == ModuleAnswer::Kind::answered && answer.result == 2;
      return full ? static_cast<uint16_t>(uid) : 0;
   };
   for (const Tessel::VerifyDisagreement& d : found) {
      const uint16_t fullUid = notFitting(d);
      if (fullUid == 0) status_ = ExitStatus::checkFailed;
      events_.disagreement(module, d.check, d.key.stringValue(), d.vlanId, d.entryId, d.expected,
                           d.read, fullUid);
   }
}

// The chip says which parts of the packet change; what they become is the rule's, as the
// chip's NAT lookup would give it.
void ScenarioRunner::reportPacket(const Packet& packet) {
   const ::Chip::Packet chipPacket = chipPacketOf(packet);
   const auto match = switch_->chip().classify(packet.module, chipPacket);
   if (!match) {
      events_.packetMiss(packet.module);
      reportNearMisses(packet.module, chipPacket);
      doPunt(packet);
      return;
   }
   const ::Chip::PacketOutcome outcome =
       switch_->chip().outcome(packet.module, chipPacket, match->actions);
   const std::optional<::Chip::FieldActionValue> profile =
       match->actions.find(Shim::sdk_.bcmFieldActionAssignExtractionCtrlId());
   EventWriter::Hit hit{
       match->entryId,          outcome.uid.value_or(0),  profile ? profile->param0 : 0, "unknown",
       forwardingText(outcome), endpointText(packet.src), endpointText(packet.dst)};
   const auto rule = rules_.find(static_cast<uint16_t>(hit.uid));
   if (outcome.uid && rule != rules_.end()) {
      const ::Chip::PacketOutcome::Rewritten& changed = outcome.rewritten;
      hit.kind = ruleTypeName(rule->second.type);
      hit.src =
          endpointText(rewritten(packet.src, rule->second.srcNew, changed.srcIp, changed.srcPort));
      hit.dst =
          endpointText(rewritten(packet.dst, rule->second.dstNew, changed.dstIp, changed.dstPort));
   }
   events_.packetHit(packet.module, hit);
}

void ScenarioRunner::reportNearMisses(uint16_t module, const ::Chip::Packet& packet) {
   const std::vector<NearMiss> misses =
       nearMisses(switch_->chip(), module, switch_->config().natEntries, packet);
   if (misses.empty()) {
      events_.event("nearMiss", "  the TCAM holds no entry", {{"module", module}, {"entry", 0}});
   }
   for (const NearMiss& miss : misses) {
      events_.event("nearMiss", "  " + nearMissText(miss),
                    {{"module", module},
                     {"entry", miss.entry},
                     {"uid", miss.uid},
                     {"fieldsMissed", miss.fieldsMissed},
                     {"field", miss.field},
                     {"packetValue", miss.packetValue},
                     {"entryValue", miss.entryValue}});
   }
}

void ScenarioRunner::doPunt(const Packet& packet) {
   const SessionTable::Punt punt = sessions_.punt(packet);
   using Outcome = SessionTable::Punt::Outcome;
   if (punt.outcome == Outcome::notFromAPool) return;
   if (punt.outcome == Outcome::refused) {
      events_.event("cpu", "to the CPU: " + punt.why,
                    {{"module", packet.module}, {"opened", false}, {"why", punt.why}});
      return;
   }
   const SessionTable::Session& session = sessions_.sessions().at(punt.session);
   const std::string text = sessionText(punt.session, session, sessions_.pool(session.pool));
   if (punt.outcome == Outcome::known) {
      const bool control = (packet.tcpFlags & (Packet::tcpFin | Packet::tcpSyn | Packet::tcpRst));
      const std::string why = control ? "a TCP control packet, which the flows leave to the CPU"
                                      : "its flows are not in hardware";
      events_.event("cpu", "to the CPU: " + text + " (" + why + ")",
                    {{"module", packet.module}, {"session", punt.session}, {"opened", false},
                     {"why", why}});
      return;
   }
   events_.event("cpu", "to the CPU: opens " + text,
                 {{"module", packet.module}, {"session", punt.session}, {"opened", true},
                  {"text", text}});
   for (const Rule& rule : sessions_.rulesOf(punt.session)) doPublish(rule);
}

// A session's hits are its flows' entries' on the chip, read after every step.
void ScenarioRunner::doAgeSessions() {
   if (sessions_.sessions().empty()) return;
   std::map<uint16_t, ChipEntriesByUid> entries;
   const auto hitsOf = [&](uint16_t uid, const std::vector<uint16_t>& modules) {
      uint64_t hits = 0;
      for (const uint16_t module : modules) {
         if (!switch_->modules().contains(module)) continue;
         auto found = entries.find(module);
         if (found == entries.end()) {
            found = entries
                        .emplace(module, chipEntriesByUid(switch_->chip(), module,
                                                          switch_->config().natEntries))
                        .first;
         }
         const auto flow = found->second.find(uid);
         if (flow == found->second.end()) continue;
         for (const ChipEntry& entry : flow->second) hits += entry.hits;
      }
      return hits;
   };
   std::vector<std::size_t> idle;
   for (auto& [id, session] : sessions_.sessions()) {
      const Pool& pool = sessions_.pool(session.pool);
      const uint64_t hits =
          hitsOf(session.flowUid, pool.modules) +
          (session.returnUid != 0 ? hitsOf(session.returnUid, pool.modules) : 0);
      // The step that opened a session sent it nothing it could hit.
      session.idleSteps = hits > session.hits || session.justOpened ? 0 : session.idleSteps + 1;
      session.justOpened = false;
      session.hits = std::max(hits, session.hits);
      if (session.idleSteps >= pool.idleSteps) idle.push_back(id);
   }
   for (const std::size_t id : idle) {
      const SessionTable::Session& session = sessions_.sessions().at(id);
      const Pool& pool = sessions_.pool(session.pool);
      events_.event("sessionClosed",
                    sessionText(id, session, pool) + ": idle for " +
                        std::to_string(session.idleSteps) +
                        (session.idleSteps == 1 ? " step, withdrawn" : " steps, withdrawn"),
                    {{"session", id}, {"idleSteps", session.idleSteps}});
      for (const Rule& rule : sessions_.rulesOf(id)) {
         // A flow the control plane refused was never published.
         refused_.erase(rule.uid);
         if (rules_.erase(rule.uid) == 0) continue;
         switch_->controlPlane().ruleRemovalIs(TesselNat::Uid(rule.uid));
         switch_->doSettle();
         reportAnswers(rule.uid, rule.modules);
      }
      sessions_.close(id);
   }
}

void ScenarioRunner::reportSessions() {
   if (sessions_.sessions().empty()) events_.event("session", "no sessions", {{"sessions", 0}});
   for (const auto& [id, session] : sessions_.sessions()) {
      const Pool& pool = sessions_.pool(session.pool);
      events_.event("session",
                    sessionText(id, session, pool) + "; " + std::to_string(session.hits) +
                        (session.hits == 1 ? " hit" : " hits") + ", idle " +
                        std::to_string(session.idleSteps) + " of " +
                        std::to_string(pool.idleSteps) + " steps",
                    {{"session", id},
                     {"pool", pool.name},
                     {"inside", endpointText(session.inside)},
                     {"remote", endpointText(session.remote)},
                     {"proto", session.proto},
                     {"outside", endpointText(session.outside)},
                     {"flowUid", session.flowUid},
                     {"returnUid", session.returnUid},
                     {"hits", session.hits},
                     {"idleSteps", session.idleSteps}});
   }
}

// The switch is quiet after every step: what each flow meets now is what it must keep meeting.
// Only a restart or a flash download owes the flows what they met before it.
void ScenarioRunner::reportTraffic(bool owed) {
   if (!traffic_) return;
   const std::vector<TrafficSource::Counts> counts = traffic_->doBaseline();
   if (!owed) return;
   for (std::size_t flow = 0; flow < counts.size(); ++flow) {
      const Packet& packet = trafficFlows_[flow];
      events_.traffic(flow + 1,
                      "module " + std::to_string(packet.module) + " " + endpointText(packet.src) +
                          " > " + endpointText(packet.dst),
                      counts[flow].sent, counts[flow].lost, counts[flow].misrouted);
   }
}

// The chip is read once for every answer a step reports after the agent settled, and again
// once the agent has answered anything since.
HeldRules& ScenarioRunner::heldRules() {
   const U64 changes = switch_->changes();
   if (!heldRules_ || heldRulesAt_ != std::pair(stepsRun_, changes)) {
      heldRules_ = std::make_unique<HeldRules>(*switch_, rules_);
      heldRulesAt_ = {stepsRun_, changes};
   }
   return *heldRules_;
}

// Read from each module's answers and the chip, so that it holds whether or not the agent is up.
void ScenarioRunner::reportRules() {
   HeldRules& held = heldRules();
   auto refused = refused_.begin();
   for (auto rule = rules_.begin(); rule != rules_.end() || refused != refused_.end();) {
      if (rule == rules_.end() || (refused != refused_.end() && refused->first < rule->first)) {
         const std::string text = ruleText(refused->second.rule);
         events_.event("rule", "rule " + text + ": " + refused->second.reason,
                       {{"uid", refused->first}, {"rule", text}, {"refused", refused->second.reason}});
         ++refused;
         continue;
      }
      const std::string text = ruleText(rule->second);
      events_.event("rule", "rule " + text, {{"uid", rule->first}, {"rule", text}});
      for (const uint16_t module : rule->second.modules) {
         if (!switch_->modules().contains(module)) {
            events_.event("ruleState",
                          "  module " + std::to_string(module) + ": not in the switch",
                          {{"uid", rule->first}, {"module", module}, {"state", "notInSwitch"}});
            continue;
         }
         const RuleOnModule state = held.ruleOn(rule->second, module);
         events_.event("ruleState", "  " + ruleOnModuleText(state),
                       ruleOnModuleJson(rule->first, state));
      }
      ++rule;
   }
}

// Hits of the uid's entries, whichever rule they belong to now: what the chip counted.
void ScenarioRunner::reportExpectedHits(const ExpectHits& expect) {
   const ChipEntriesByUid entries =
       chipEntriesByUid(switch_->chip(), expect.module, switch_->config().natEntries);
   uint64_t hits = 0;
   if (const auto found = entries.find(expect.uid); found != entries.end()) {
      for (const ChipEntry& entry : found->second) hits += entry.hits;
   }
   const bool ok = hits == expect.hits;
   if (!ok) status_ = ExitStatus::checkFailed;
   events_.event("expectHits",
                 "expect module " + std::to_string(expect.module) + " uid " +
                     std::to_string(expect.uid) + " hits " + std::to_string(expect.hits) + ": " +
                     (ok ? "ok" : "got " + std::to_string(hits)),
                 {{"module", expect.module},
                  {"uid", expect.uid},
                  {"expected", expect.hits},
                  {"hits", hits},
                  {"ok", ok}});
}

// What a warm start has staged: it becomes active at the flash download, and until then the
// previous run's entries carry the traffic.
void ScenarioRunner::reportStaged() {
   for (const U16 module : switch_->modules()) {
      const HeldRules::ModuleUse use = heldRules().use(module);
      if (!use.staged) continue;
      events_.event("staged",
                    "module " + std::to_string(module) + ": " + std::to_string(use.used) +
                        " entries staged, active at the flash download; until then the previous "
                        "run's " +
                        std::to_string(use.previousRun) + " carry the traffic",
                    {{"module", module}, {"staged", use.used}, {"previousRun", use.previousRun}});
   }
}

void ScenarioRunner::reportDiff() {
   HeldRules& held = heldRules();
   for (const U16 module : switch_->modules()) {
      const std::vector<DiffLine> lines = diffLines(held.diff(module));
      differs_ = differs_ || lines.size() > 1;
      for (const DiffLine& line : lines) events_.event("diff", line.text, line.fields);
   }
}

void ScenarioRunner::reportSummary() {
   std::vector<EventWriter::ModuleUse> modules;
   for (const U16 module : switch_->modules()) {
      const std::size_t used = switch_->chip().entryCount(module);
      modules.push_back({module, used, switch_->config().natEntries - used});
   }
   events_.summary(rules_.size(), modules, requests_);
}

}  // namespace Simulator

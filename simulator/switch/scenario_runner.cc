#include "simulator/switch/scenario_runner.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iomanip>
#include <ostream>
#include <span>

#include "simulator/switch/rule_conversion.h"
#include "simulator/switch/rule_generator.h"

namespace Simulator {
namespace {

template <class... F>
struct Overloaded : F... {
   using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

SimulatedSwitch::Config switchConfig(const Scenario& scenario) {
   SimulatedSwitch::Config config;
   config.natEntries = scenario.chip.natEntries;
   config.pipes = scenario.chip.pipes;
   config.copiesPerPipe = scenario.chip.copiesPerPipe;
   config.modules = {scenario.modules.begin(), scenario.modules.end()};
   config.flashDownloadDone = scenario.flashDownloadDone;
   return config;
}

std::string translationText(const Rule& rule) {
   std::string text;
   const auto pair = [&](const char* name, const std::optional<Endpoint>& from,
                         const std::optional<Endpoint>& to) {
      if (!from) return;
      if (!text.empty()) text += ", ";
      text += std::string(name) + " " + endpointText(*from) + " -> " + endpointText(*to);
   };
   pair("src", rule.src, rule.srcNew);
   pair("dst", rule.dst, rule.dstNew);
   return text;
}

std::string ruleText(const Rule& rule) {
   std::string text = "uid " + std::to_string(rule.uid) + " " + ruleTypeName(rule.type) + " " +
                      translationText(rule);
   if (!rule.vlans.empty()) {
      text += " vlans";
      for (std::size_t i = 0; i < rule.vlans.size(); ++i) {
         text += i == 0 ? ' ' : ',';
         text += std::to_string(rule.vlans[i]);
      }
   }
   return text;
}

std::string listText(const std::vector<uint16_t>& values) {
   std::string text;
   for (uint16_t value : values) {
      if (!text.empty()) text += ' ';
      text += std::to_string(value);
   }
   return text;
}

// The whole content of a descriptor written from its start.
std::string contentOf(std::FILE* file) {
   std::string text;
   std::rewind(file);
   char buffer[65536];
   for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
      text.append(buffer, n);
   return text;
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
      out_(out),
      options_(std::move(options)),
      switch_(std::make_unique<SimulatedSwitch>(switchConfig(scenario))) {
   if (!options_.socketPath.empty()) switch_->commandServerIs(options_.socketPath);
   out_ << "switch: " << scenario.chip.natEntries << " NAT entries per unit, "
        << unsigned{scenario.chip.pipes} << " pipe(s) x " << unsigned{scenario.chip.copiesPerPipe}
        << " copies; modules " << listText(scenario.modules) << "\n";
}

ScenarioRunner::~ScenarioRunner() = default;

int ScenarioRunner::doRun() {
   for (const Step& step : scenario_.steps) {
      doStep(step);
      if (Agent::CommandServer* server = switch_->commandServer()) {
         server->doPoll(std::chrono::milliseconds(0));
         switch_->doSettle();
      }
   }
   return status_;
}

void ScenarioRunner::doStep(const Step& step) {
   out_ << step.path << " ";
   std::visit(Overloaded{
                  [&](const AddRule& add) {
                     out_ << "add " << ruleText(add.rule) << ": ";
                     doPublish(add.rule);
                  },
                  [&](const UpdateRule& update) {
                     out_ << "update " << ruleText(update.rule) << ": ";
                     doPublish(update.rule);
                  },
                  [&](const Retry& retry) {
                     out_ << "retry uid " << retry.uid << ": ";
                     switch_->controlPlane().ruleRetryIs(TesselNat::Uid(retry.uid));
                     switch_->doSettle();
                     reportAnswer(retry.uid);
                  },
                  [&](const Delete& remove) {
                     out_ << "delete uid " << remove.uid << ": ";
                     switch_->controlPlane().ruleRemovalIs(TesselNat::Uid(remove.uid));
                     switch_->doSettle();
                     rules_.erase(remove.uid);
                     reportAnswer(remove.uid);
                  },
                  [&](const Show& show) { reportShow(show.module); },
                  [&](const Verify& verify) { reportVerify(verify.module); },
                  [&](const SendPacket& send) { reportPacket(send.packet); },
                  [&](const Generate& generate) { doGenerate(generate); },
                  [&](const Restart& restart) {
                     out_ << "restart " << (restart.warm ? "warm" : "cold") << ": ";
                     switch_->doRestart(restart.warm);
                     out_ << switch_->controlPlane().outstandingRequests()
                          << " request(s) unanswered after the commit pass\n";
                  },
                  [&](const FlashDownload&) {
                     out_ << "flash download: ";
                     switch_->doFlashDownload();
                     std::size_t held = 0;
                     for (U16 module : switch_->modules()) {
                        held += switch_->natEntryManager()->entriesHeld(module).size();
                     }
                     out_ << held << " NAT entries held\n";
                  },
                  [&](const AddModule& add) {
                     out_ << "add module " << add.module << "\n";
                     switch_->moduleIs(add.module);
                  },
                  [&](const RemoveModule& remove) {
                     out_ << "remove module " << remove.module << "\n";
                     switch_->moduleDel(remove.module);
                     for (auto& [uid, rule] : rules_) std::erase(rule.modules, remove.module);
                  },
              },
              step.action);
}

void ScenarioRunner::doPublish(const Rule& rule) {
   rules_[rule.uid] = rule;
   switch_->controlPlane().ruleIs(natRuleOf(rule));
   switch_->doSettle();
   reportAnswer(rule.uid);
}

void ScenarioRunner::doGenerate(const Generate& generate) {
   out_ << "generate " << generate.rules << " rules (seed " << generate.seed << ") on modules "
        << listText(generate.modules) << ": " << std::flush;
   const std::vector<Rule> rules = generatedRules(generate);
   constexpr std::size_t batch = 256;
   const auto start = std::chrono::steady_clock::now();
   for (std::size_t i = 0; i < rules.size(); ++i) {
      rules_[rules[i].uid] = rules[i];
      switch_->controlPlane().ruleIs(natRuleOf(rules[i]));
      if ((i + 1) % batch == 0 || i + 1 == rules.size()) {
         switch_->doSettle();
         if (options_.progress) drawProgress(*options_.progress, i + 1, rules.size());
      }
   }
   const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
   if (options_.progress) *options_.progress << "\n";
   std::size_t failed = 0;
   for (const Rule& rule : rules) {
      failed += switch_->controlPlane().answer(TesselNat::Uid(rule.uid)) !=
                ControlPlane::Answer::programmed;
   }
   out_ << rules.size() - failed << " programmed, " << failed << " failed in " << std::fixed
        << std::setprecision(3) << took.count() << " s (" << std::setprecision(0)
        << rules.size() / took.count() << " rules/s)\n"
        << std::defaultfloat;
}

void ScenarioRunner::reportAnswer(uint16_t uid) {
   switch (switch_->controlPlane().answer(TesselNat::Uid(uid))) {
      case ControlPlane::Answer::programmed:
         out_ << (switch_->controlPlane().ruleHas(TesselNat::Uid(uid)) ? "programmed\n"
                                                                       : "removed\n");
         break;
      case ControlPlane::Answer::failed:
         out_ << "failed: a module could not program it; it stays dirty until retried\n";
         break;
      case ControlPlane::Answer::waiting:
         out_ << "waiting: not every module has answered\n";
         break;
   }
}

void ScenarioRunner::reportShow(uint16_t module) {
   out_ << "show module " << module << ":\n";
   const Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = switch_->programmer(module);
   if (!programmer) {
      out_ << "(no programmer for module " << module << ")\n";
      return;
   }
   // A file rather than a pipe: a dump of thousands of keys would fill a pipe nobody reads.
   std::FILE* file = std::tmpfile();
   programmer->doShow(static_cast<U32>(fileno(file)), TesselCentral::ModId(module));
   out_ << contentOf(file) << "\n";
   std::fclose(file);
}

void ScenarioRunner::reportVerify(uint16_t module) {
   out_ << "verify module " << module << ": ";
   const Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = switch_->programmer(module);
   if (!programmer) {
      out_ << "no programmer for module " << module << "\n";
      return;
   }
   const std::vector<Tessel::VerifyDisagreement> found = switch_->audit(module);
   if (found.empty()) {
      out_ << "ok, " << programmer->entryIdTables()
           << " key(s) agree with the shadow and the chip\n";
      return;
   }
   status_ = 1;
   out_ << found.size() << " disagreement(s)\n";
   constexpr std::size_t shown = 20;
   for (const Tessel::VerifyDisagreement& disagreement :
        std::span(found).first(std::min(found.size(), shown))) {
      out_ << "  " << disagreement.check << ": key " << disagreement.key.stringValue() << ", vlan "
           << disagreement.vlanId << ", entry " << disagreement.entryId << ", expected "
           << disagreement.expected << ", read " << disagreement.read << "\n";
   }
   if (found.size() > shown) out_ << "  ... and " << found.size() - shown << " more\n";
}

void ScenarioRunner::reportPacket(const Packet& packet) {
   static const char* const fragments[] = {"", " first fragment", " later fragment"};
   out_ << "packet module " << packet.module << " vlan " << packet.vlan << " proto "
        << unsigned{packet.proto} << " " << endpointText(packet.src) << " -> "
        << endpointText(packet.dst) << fragments[static_cast<int>(packet.fragment)] << ": ";
   const auto match = switch_->chip().classify(packet.module, chipPacketOf(packet));
   if (!match) {
      out_ << "no entry, not translated\n";
      return;
   }
   const Shim::Sdk& sdk = Shim::sdk_;
   const ::Chip::FieldActionValue* uid =
       match->actions.find(sdk.bcmFieldActionAssignOpaqueObject1());
   const ::Chip::FieldActionValue* profile =
       match->actions.find(sdk.bcmFieldActionAssignExtractionCtrlId());
   out_ << "hits entry " << match->entryId;
   if (uid) {
      out_ << ", uid " << uid->param0;
      const auto rule = rules_.find(static_cast<uint16_t>(uid->param0));
      if (rule != rules_.end()) out_ << " (" << translationText(rule->second) << ")";
   }
   if (profile) out_ << ", profile " << profile->param0;
   if (match->actions.find(sdk.bcmFieldActionDrop())) out_ << ", dropped";
   if (const auto* l3 = match->actions.find(sdk.bcmFieldActionL3Switch())) {
      out_ << ", next hop " << l3->param0;
   }
   out_ << "\n";
}

}  // namespace Simulator

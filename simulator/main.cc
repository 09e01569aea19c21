// tessel-nat: runs NAT rule sets against a simulated switch. `run` (the default, with the
// built-in scenario when no file is given) runs a scenario, with the agent in a process of
// its own; `check` only checks one; `scenario` prints the built-in one; `show` is the
// operator's side of the agent's command socket; `soak` drives the agent with seeded random
// churn; `agent` is the agent process that `run` starts.

#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "platform/agent/command/command_server.h"
#include "platform/agent/loop/agent_loop.h"
#include "platform/framework/kiv/activity_lock.h"
#include "platform/framework/kiv/freed_memory.h"
#include "platform/framework/trace/event_log.h"
#include "platform/framework/trace/trace_handle.h"
#include "platform/framework/trace/trace_sink.h"
#include "simulator/command_line/exit_status.h"
#include "simulator/command_line/option_checks.h"
#include "simulator/command_line/show_client.h"
#include "simulator/scenario/default_scenario.h"
#include "simulator/scenario/scenario_parser.h"
#include "simulator/switch/agent_launcher.h"
#include "simulator/switch/agent_process.h"
#include "simulator/switch/churn_soak.h"
#include "simulator/switch/repeat_collapsing_log.h"
#include "simulator/switch/scenario_runner.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

void stopOnSignals() {
   struct sigaction stop {};
   stop.sa_handler = requestStop;
   sigaction(SIGINT, &stop, nullptr);
   sigaction(SIGTERM, &stop, nullptr);
}

// Enabled traces on stderr: "facility/level function: text".
class StderrTraceSink : public Kiv::TraceSink {
public:
   void write(const Kiv::TraceMessage& message) override {
      std::cerr << message.facility << "/" << message.level << " " << message.function << ": "
                << message.text << "\n";
   }
};

struct RunOptions {
   std::string file;
   std::optional<std::string> servePath;
   bool json = false;
   bool timing = false;
   std::vector<std::string> traces;  // "FACILITY/LEVEL"
};

namespace ExitStatus = Simulator::ExitStatus;

// The options' mistakes, each refused in one line before the switch is built.
std::vector<Simulator::TraceLevel> checkedOptions(const RunOptions& options) {
   std::vector<Simulator::TraceLevel> traces;
   const std::vector<std::string> facilities = Simulator::SimulatedSwitch::traceFacilities();
   for (const std::string& trace : options.traces) {
      traces.push_back(Simulator::traceLevel(trace, facilities));
   }
   if (options.servePath) Simulator::checkSocketPath(*options.servePath);
   return traces;
}

// The first line of `text`: a refusal stays one line whatever a library puts in its message.
std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// Why a command refused or failed, on stderr: "tessel-nat: <message>", or with --json one JSON
// object a line, {"event":"error","message":"<message>"}.
void reportError(const std::string& message, bool json) {
   if (json) {
      std::cerr << nlohmann::json{{"event", "error"}, {"message", message}}.dump() << "\n";
   } else {
      std::cerr << "tessel-nat: " << message << "\n";
   }
}

// A scenario file named on the command line: "-" is the standard input.
constexpr const char* standardInput = "-";

// What messages call the scenario in `file`.
std::string scenarioName(const std::string& file) {
   if (file.empty()) return "built-in scenario";
   return file == standardInput ? "standard input" : file;
}

// The scenario in `file`, the built-in one when it is empty; nothing, after saying why in one
// line, when it cannot be read or is refused.
std::optional<Simulator::Scenario> checkedScenario(const std::string& file, bool json = false) {
   std::string text = Simulator::defaultScenarioText;
   if (!file.empty()) {
      std::ifstream in;
      if (file != standardInput) in.open(file);
      std::istream& source = file == standardInput ? std::cin : in;
      std::ostringstream content;
      if (!source || !(content << source.rdbuf()) || source.bad()) {
         reportError("cannot read " + scenarioName(file) + ": " + std::strerror(errno), json);
         return std::nullopt;
      }
      text = content.str();
   }
   try {
      return Simulator::parseScenario(text);
   } catch (const Simulator::ScenarioError& error) {
      reportError(scenarioName(file) + ": " + error.what(), json);
      return std::nullopt;
   }
}

// Checks the scenario as `run` would, and builds nothing.
int check(const std::string& file) {
   const std::optional<Simulator::Scenario> scenario = checkedScenario(file);
   if (!scenario) return ExitStatus::badInput;
   std::cout << scenarioName(file) << ": " << scenario->steps.size() << " steps, "
             << scenario->modules.size() << " modules, " << scenario->chip.natEntries
             << " NAT entries per unit: it would run\n";
   return ExitStatus::ok;
}

// The agent serves commands until SIGINT or SIGTERM, started again should it die.
void serve(Simulator::ScenarioRunner& runner) {
   std::cerr << "tessel-nat: serving agent commands on "
             << runner.simulatedSwitch().commandSocket() << "; Ctrl-C stops" << std::endl;
   while (!stopRequested) {
      usleep(200000);
      runner.simulatedSwitch().doSettle();
   }
}

int run(const RunOptions& options) {
   std::vector<Simulator::TraceLevel> traceLevels;
   try {
      traceLevels = checkedOptions(options);
   } catch (const Simulator::OptionError& error) {
      reportError(error.what(), options.json);
      return ExitStatus::badInput;
   }
   const std::optional<Simulator::Scenario> scenario = checkedScenario(options.file, options.json);
   if (!scenario) return ExitStatus::badInput;
   Simulator::ScenarioRunner::Options runOptions;
   runOptions.agentProgram = std::filesystem::read_symlink("/proc/self/exe").string();
   if (options.servePath) {
      // The agent would find it taken only once it starts.
      try {
         Agent::AgentLoop loop;
         Agent::CommandServer probe(loop, *options.servePath);
      } catch (const std::exception& error) {
         reportError("--serve: " + firstLine(error.what()), options.json);
         return ExitStatus::badInput;
      }
      runOptions.commandSocket = *options.servePath;
   }
   for (const std::string& trace : options.traces) {
      runOptions.agentArguments.insert(runOptions.agentArguments.end(), {"--trace", trace});
   }
   if (options.json) runOptions.agentArguments.push_back("--json-log");
   stopOnSignals();
   runOptions.stop = &stopRequested;
   runOptions.timing = options.timing;

   Simulator::RepeatCollapsingLog log(std::cerr, options.json
                                                     ? Simulator::RepeatCollapsingLog::Format::json
                                                     : Simulator::RepeatCollapsingLog::Format::text);
   StderrTraceSink traces;
   Kiv::logSinkIs(&log);
   Kiv::traceSinkIs(&traces);
   int status = ExitStatus::ok;
   {
      const Kiv::ActivityGuard framework(Kiv::activityLock());
      runOptions.format = options.json ? Simulator::EventWriter::Format::json
                                       : Simulator::EventWriter::Format::text;
      if (isatty(STDERR_FILENO)) runOptions.progress = &std::cerr;
      // A switch that cannot be built or an agent that does not settle ends the run, with the
      // segment and the agent gone as at any end.
      try {
         Simulator::ScenarioRunner runner(*scenario, std::cout, std::move(runOptions));
         status = runner.doRun();
         // With its output lost the run has failed, which main() reports; serving would hide
         // it.
         if (options.servePath && !stopRequested && std::cout.flush()) serve(runner);
      } catch (const std::exception& error) {
         std::cout.flush();
         reportError(firstLine(error.what()), options.json);
         status = ExitStatus::checkFailed;
      }
   }
   Kiv::traceSinkIs(nullptr);
   Kiv::logSinkIs(nullptr);
   return status;
}

int soak(uint64_t seed, uint32_t steps, bool verbose, bool hosted) {
   const std::string agentProgram =
       hosted ? "" : std::filesystem::read_symlink("/proc/self/exe").string();
   const Simulator::SoakResult result =
       Simulator::runChurnSoak(seed, steps, verbose ? &std::cout : nullptr, agentProgram);
   if (result.failure.empty()) {
      std::cout << "soak seed " << seed << ": " << result.stepsRun << " steps, every check held\n";
      return ExitStatus::ok;
   }
   std::cout << "soak seed " << seed << " failed at " << result.failure << "\nthe steps before it:\n";
   for (const std::string& step : result.lastSteps) std::cout << "  | " << step << "\n";
   std::cout << "replay: tessel-nat soak --verbose" << (hosted ? " --hosted" : "") << " --seed "
             << seed << " --steps " << result.stepsRun + 1 << "\n";
   return ExitStatus::checkFailed;
}

// The agent process: `run` starts it with the segment of its switch.
int agent(const std::string& segment, const std::string& socket, bool warm,
          const std::vector<std::string>& traceOptions, bool jsonLog) {
   for (const std::string& trace : traceOptions) {
      const Simulator::TraceLevel level =
          Simulator::traceLevel(trace, Simulator::SimulatedSwitch::traceFacilities());
      Kiv::traceHandle(level.facility).levelIs(level.level, true);
   }
   static StderrTraceSink traces;
   Kiv::traceSinkIs(&traces);
   return Simulator::runAgentProcess(segment, socket, warm, jsonLog);
}

// A scenario file that exists, or "-".
const CLI::Validator scenarioFile(
    [](std::string& path) { return path == standardInput ? std::string() : CLI::ExistingFile(path); },
    "FILE or -");

void runOptionsOn(CLI::App& app, RunOptions& options) {
   app.add_option("scenario", options.file,
                  "Scenario file (JSON), - for the standard input; the built-in one without")
       ->check(scenarioFile);
   app.add_option("--serve", options.servePath,
                  "The agent's command socket (Unix-domain), answering during the steps and "
                  "after them until SIGINT or SIGTERM");
   app.add_flag("--json", options.json, "Write the events as JSON Lines");
   app.add_flag("--timing", options.timing,
                "Also report how long things took (a generate's rules a second); without it "
                "two runs of a file report the same");
   app.add_option("--trace", options.traces,
                  "Turn a trace facility's level on, on stderr (repeatable), e.g. "
                  "--trace ApiTessel/4");
}

}  // namespace

int main(int argc, char** argv) {
   Kiv::doKeepFreedMemory();
   CLI::App app{
       "Runs NAT rule sets against a simulated switch: the NAT plug-in programs them "
       "into the chip's TCAM, and each step reports what the modules answer, what the "
       "chip holds and what a packet hits."};
   app.footer(
       "Example: tessel-nat run examples/walkthrough.json   (a guided tour; see the README)\n"
       "         tessel-nat run examples/web_server.json --serve /tmp/nat.sock\n"
       "         tessel-nat show --socket /tmp/nat.sock --module 1 --table");
   app.set_version_flag("--version", std::string("tessel-nat ") + TESSEL_NAT_VERSION);
   app.require_subcommand(0, 1);
   RunOptions options;
   runOptionsOn(app, options);

   CLI::App* runCommand = app.add_subcommand("run", "Run a scenario file (the default command)");
   runCommand->footer("Example: tessel-nat run examples/full_tcam.json --json");
   runOptionsOn(*runCommand, options);

   CLI::App* checkCommand =
       app.add_subcommand("check", "Check a scenario file as run would, and run nothing");
   checkCommand->footer("Example: tessel-nat check rules.json");
   std::string checkedFile;
   checkCommand
       ->add_option("scenario", checkedFile,
                    "Scenario file (JSON), - for the standard input; the built-in one without")
       ->check(scenarioFile);

   CLI::App* scenarioCommand = app.add_subcommand(
       "scenario", "Print the built-in scenario, to copy into a file of your own and edit");
   scenarioCommand->footer("Example: tessel-nat scenario > rules.json");

   CLI::App* showCommand =
       app.add_subcommand("show", "Ask a running agent for a module's show dump");
   showCommand->footer("Example: tessel-nat show --socket /tmp/nat.sock --module 1 --table");
   std::string socketPath;
   uint16_t module = 1;
   bool table = false;
   bool showJson = false;
   showCommand->add_option("--socket", socketPath, "The agent's command socket")->required();
   showCommand->add_option("--module", module, "The module")
       ->required()
       ->check(Simulator::decimalIn(0, 64));
   CLI::Option* tableFlag =
       showCommand->add_flag("--table", table, "One aligned row per key and VLAN, by uid and VLAN");
   showCommand->add_flag("--json", showJson, "The records as JSON, by uid and VLAN")
       ->excludes(tableFlag);

   CLI::App* soakCommand = app.add_subcommand(
       "soak",
       "Drive the whole agent with seeded random churn, restarts and faults, checking "
       "it after every step");
   soakCommand->footer("Example: tessel-nat soak --seed 7 --steps 5000");
   uint64_t seed = 1;
   uint32_t steps = 1000;
   bool verbose = false;
   soakCommand->add_option("--seed", seed, "The seed; a failure prints the one to replay")
       ->check(Simulator::decimalIn(0, UINT64_MAX))
       ->capture_default_str();
   soakCommand->add_option("--steps", steps, "How many steps to run")
       ->check(Simulator::decimalIn(0, UINT32_MAX))
       ->capture_default_str();
   soakCommand->add_flag("--verbose", verbose, "Print every step");
   bool hosted = false;
   soakCommand->add_flag("--hosted", hosted,
                         "Host the agent in the soak's process, where it cannot be killed");

   // Not for people: the process `run` starts as the switch's agent.
   CLI::App* agentCommand = app.add_subcommand("agent", "The agent process of a running switch");
   agentCommand->group("");
   std::string agentSegment;
   std::string agentSocket;
   bool agentWarm = false;
   std::vector<std::string> agentTraces;
   agentCommand->add_option("--segment", agentSegment, "The switch's segment")->required();
   agentCommand->add_option("--socket", agentSocket, "The command socket to serve")->required();
   agentCommand->add_flag("--warm,!--cold", agentWarm, "Start warm, on the chip as it is");
   agentCommand->add_option("--trace", agentTraces, "A trace level to turn on");
   bool agentJsonLog = false;
   agentCommand->add_flag("--json-log", agentJsonLog, "Event-log messages as JSON Lines");
   bool agentLauncher = false;
   agentCommand->add_flag("--launcher", agentLauncher,
                          "Fork an agent, warm or cold, for each request of the supervisor");

   // A command line that does not parse is bad input like a bad scenario.
   try {
      app.parse(argc, argv);
   } catch (const CLI::ParseError& error) {
      return app.exit(error) == 0 ? ExitStatus::ok : ExitStatus::badInput;
   }
   int status = ExitStatus::ok;
   if (*checkCommand) {
      status = check(checkedFile);
   } else if (*scenarioCommand) {
      std::cout << Simulator::defaultScenarioText;
   } else if (*showCommand) {
      const Simulator::DumpFormat format = table      ? Simulator::DumpFormat::table
                                           : showJson ? Simulator::DumpFormat::json
                                                      : Simulator::DumpFormat::dump;
      status = Simulator::showClient(socketPath, module, format, std::cout, std::cerr);
   } else if (*soakCommand) {
      status = soak(seed, steps, verbose, hosted);
   } else if (*agentCommand && agentLauncher) {
      status = Simulator::runAgentLauncher(Simulator::launcherControlDescriptor, [&](bool warm) {
         return agent(agentSegment, agentSocket, warm, agentTraces, agentJsonLog);
      });
   } else if (*agentCommand) {
      status = agent(agentSegment, agentSocket, agentWarm, agentTraces, agentJsonLog);
   } else {
      status = run(options);
   }
   // Output that did not reach its file is lost, whatever the command found.
   if (!std::cout.flush()) {
      std::cerr << "tessel-nat: the output could not be written\n";
      return ExitStatus::outputLost;
   }
   return status;
}

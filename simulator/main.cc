// tessel-nat: runs NAT rule sets against a simulated switch. `run` (the default, with the
// built-in scenario when no file is given) runs a scenario; `show` is the operator's side of
// the agent's command socket; `soak` drives the agent with seeded random churn.

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "platform/framework/kiv/activity_lock.h"
#include "platform/framework/trace/event_log.h"
#include "platform/framework/trace/trace_handle.h"
#include "platform/framework/trace/trace_sink.h"
#include "simulator/scenario/default_scenario.h"
#include "simulator/scenario/scenario_parser.h"
#include "simulator/switch/churn_soak.h"
#include "simulator/switch/dump_table.h"
#include "simulator/switch/scenario_runner.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

// Event-log messages on stderr, as "%NAME: text".
class StderrLogSink : public Kiv::LogSink {
public:
   void write(const Kiv::LogRecord& record) override {
      std::cerr << "%" << record.name << ": " << record.text << std::endl;
   }
};

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
   std::string servePath;
   bool json = false;
   std::vector<std::string> traces;  // "FACILITY/LEVEL"
};

// Turns on each FACILITY/LEVEL; false, with a message, for one that does not parse.
bool tracesOn(const std::vector<std::string>& traces) {
   for (const std::string& trace : traces) {
      const std::size_t slash = trace.rfind('/');
      unsigned level = 0;
      if (slash == std::string::npos || slash == 0 ||
          std::sscanf(trace.c_str() + slash + 1, "%u", &level) != 1) {
         std::cerr << "tessel-nat: --trace " << trace << ": expected FACILITY/LEVEL\n";
         return false;
      }
      Kiv::traceHandle(trace.substr(0, slash)).levelIs(level, true);
   }
   return true;
}

// Serves agent commands until SIGINT or SIGTERM.
void serve(Simulator::ScenarioRunner& runner) {
   struct sigaction stop {};
   stop.sa_handler = requestStop;
   sigaction(SIGINT, &stop, nullptr);
   sigaction(SIGTERM, &stop, nullptr);
   Agent::CommandServer& server = *runner.simulatedSwitch().commandServer();
   std::cerr << "tessel-nat: serving agent commands on " << server.path() << "; Ctrl-C stops"
             << std::endl;
   while (!stopRequested) {
      server.doPoll(std::chrono::milliseconds(200));
      runner.simulatedSwitch().doSettle();
   }
}

int run(const RunOptions& options) {
   std::string text = Simulator::defaultScenarioText;
   if (!options.file.empty()) {
      std::ifstream in(options.file);
      if (!in) {
         std::cerr << "tessel-nat: cannot read " << options.file << ": " << std::strerror(errno)
                   << "\n";
         return 2;
      }
      std::ostringstream content;
      content << in.rdbuf();
      text = content.str();
   }
   Simulator::Scenario scenario;
   try {
      scenario = Simulator::parseScenario(text);
   } catch (const Simulator::ScenarioError& error) {
      std::cerr << "tessel-nat: " << (options.file.empty() ? "built-in scenario" : options.file)
                << ": " << error.what() << "\n";
      return 2;
   }
   if (!tracesOn(options.traces)) return 2;

   StderrLogSink log;
   StderrTraceSink traces;
   Kiv::logSinkIs(&log);
   Kiv::traceSinkIs(&traces);
   int status = 0;
   {
      const Kiv::ActivityGuard framework(Kiv::activityLock());
      Simulator::ScenarioRunner::Options runOptions;
      runOptions.format = options.json ? Simulator::EventWriter::Format::json
                                       : Simulator::EventWriter::Format::text;
      runOptions.socketPath = options.servePath;
      if (isatty(STDERR_FILENO)) runOptions.progress = &std::cerr;
      Simulator::ScenarioRunner runner(scenario, std::cout, runOptions);
      status = runner.doRun();
      std::cout << std::flush;
      if (!options.servePath.empty()) serve(runner);
   }
   Kiv::traceSinkIs(nullptr);
   Kiv::logSinkIs(nullptr);
   return status;
}

// Asks the agent at `socketPath` for a module's show dump and prints it.
int show(const std::string& socketPath, unsigned module, bool table) {
   sockaddr_un address{};
   address.sun_family = AF_UNIX;
   if (socketPath.size() >= sizeof(address.sun_path)) {
      std::cerr << "tessel-nat: socket path too long: " << socketPath << "\n";
      return 2;
   }
   std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
   const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
   if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      std::cerr << "tessel-nat: cannot connect to " << socketPath << ": " << std::strerror(errno)
                << "\n";
      if (fd >= 0) close(fd);
      return 1;
   }
   const std::string request = "TesselNat " + std::to_string(module) + " show\n";
   const bool sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                     static_cast<ssize_t>(request.size());
   std::string answer;
   char buffer[65536];
   for (ssize_t n; sent && (n = read(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, n);
   close(fd);
   if (!sent) {
      std::cerr << "tessel-nat: " << socketPath << ": the request could not be sent\n";
      return 1;
   }
   if (answer.rfind("error: ", 0) == 0) {
      std::cerr << "tessel-nat: " << answer;
      return 1;
   }
   std::cout << (table ? Simulator::dumpTable(answer) : answer + "\n");
   return 0;
}

int soak(uint64_t seed, uint32_t steps, bool verbose) {
   const Simulator::SoakResult result =
       Simulator::runChurnSoak(seed, steps, verbose ? &std::cout : nullptr);
   if (result.failure.empty()) {
      std::cout << "soak seed " << seed << ": " << result.stepsRun << " steps, every check held\n";
      return 0;
   }
   std::cout << "soak seed " << seed << " failed at " << result.failure
             << "\nreplay: tessel-nat soak --verbose --seed " << seed << " --steps "
             << result.stepsRun + 1 << "\n";
   return 1;
}

void runOptionsOn(CLI::App& app, RunOptions& options) {
   app.add_option("scenario", options.file, "Scenario file (JSON); the built-in one without")
       ->check(CLI::ExistingFile);
   app.add_option("--serve", options.servePath,
                  "After the steps, answer agent commands on this Unix-domain socket until "
                  "SIGINT or SIGTERM");
   app.add_flag("--json", options.json, "Write the events as JSON Lines");
   app.add_option("--trace", options.traces,
                  "Turn a trace facility's level on, on stderr (repeatable), e.g. "
                  "--trace ApiTessel/4");
}

}  // namespace

int main(int argc, char** argv) {
   CLI::App app{
       "Runs NAT rule sets against a simulated switch: the NAT plug-in programs them "
       "into the chip's TCAM, and each step reports what the modules answer, what the "
       "chip holds and what a packet hits."};
   app.footer(
       "Example: tessel-nat run examples/web_server.json --serve /tmp/nat.sock\n"
       "         tessel-nat show --socket /tmp/nat.sock --module 1 --table");
   app.require_subcommand(0, 1);
   RunOptions options;
   runOptionsOn(app, options);

   CLI::App* runCommand = app.add_subcommand("run", "Run a scenario file (the default command)");
   runCommand->footer("Example: tessel-nat run examples/full_tcam.json --json");
   runOptionsOn(*runCommand, options);

   CLI::App* showCommand =
       app.add_subcommand("show", "Ask a running agent for a module's show dump");
   showCommand->footer("Example: tessel-nat show --socket /tmp/nat.sock --module 1 --table");
   std::string socketPath;
   unsigned module = 1;
   bool table = false;
   showCommand->add_option("--socket", socketPath, "The agent's command socket")->required();
   showCommand->add_option("--module", module, "The module")
       ->required()
       ->check(CLI::Range(0, 65535));
   showCommand->add_flag("--table", table, "One aligned row per key and VLAN");

   CLI::App* soakCommand = app.add_subcommand(
       "soak",
       "Drive the whole agent with seeded random churn, restarts and faults, checking "
       "it after every step");
   soakCommand->footer("Example: tessel-nat soak --seed 7 --steps 5000");
   uint64_t seed = 1;
   uint32_t steps = 1000;
   bool verbose = false;
   soakCommand->add_option("--seed", seed, "The seed; a failure prints the one to replay");
   soakCommand->add_option("--steps", steps, "How many steps to run");
   soakCommand->add_flag("--verbose", verbose, "Print every step");

   // A command line that does not parse is bad input like a bad scenario: status 2.
   try {
      app.parse(argc, argv);
   } catch (const CLI::ParseError& error) {
      return app.exit(error) == 0 ? 0 : 2;
   }
   if (*showCommand) return show(socketPath, module, table);
   if (*soakCommand) return soak(seed, steps, verbose);
   return run(options);
}

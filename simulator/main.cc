// tessel-nat: runs NAT rule sets against a simulated switch. Without a scenario file it runs
// the built-in one. `tessel-nat send` is the operator's side of the agent's command socket.

#include <poll.h>
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
#include "simulator/scenario/default_scenario.h"
#include "simulator/scenario/scenario_parser.h"
#include "simulator/switch/churn_soak.h"
#include "simulator/switch/scenario_runner.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

// Serves agent commands until SIGINT or SIGTERM.
void serve(Simulator::ScenarioRunner& runner) {
   struct sigaction stop {};
   stop.sa_handler = requestStop;
   sigaction(SIGINT, &stop, nullptr);
   sigaction(SIGTERM, &stop, nullptr);
   Agent::CommandServer& server = *runner.simulatedSwitch().commandServer();
   std::cout << "serving agent commands on " << server.path() << "; Ctrl-C stops" << std::endl;
   while (!stopRequested) {
      server.doPoll(std::chrono::milliseconds(200));
      runner.simulatedSwitch().doSettle();
   }
}

int runScenario(const std::string& file, const std::string& socketPath, bool serving) {
   std::string text = Simulator::defaultScenarioText;
   if (!file.empty()) {
      std::ifstream in(file);
      if (!in) {
         std::cerr << "tessel-nat: cannot read " << file << ": " << std::strerror(errno) << "\n";
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
      std::cerr << "tessel-nat: " << (file.empty() ? "built-in scenario" : file) << ": "
                << error.what() << "\n";
      return 2;
   }

   // The agent's event log (a full TCAM, for one) goes with the step that caused it.
   Kiv::StreamLogSink log(std::cout);
   Kiv::logSinkIs(&log);
   Kiv::ActivityGuard framework(Kiv::activityLock());
   Simulator::ScenarioRunner::Options options;
   options.socketPath = socketPath;
   if (isatty(STDERR_FILENO)) options.progress = &std::cerr;
   int status = 0;
   {
      Simulator::ScenarioRunner runner(scenario, std::cout, options);
      status = runner.doRun();
      if (serving) serve(runner);
   }
   Kiv::logSinkIs(nullptr);
   return status;
}

// Sends one request to an agent's command socket and prints the answer.
int send(const std::string& socketPath, const std::vector<std::string>& words) {
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
   std::string request;
   for (const std::string& word : words) {
      if (!request.empty()) request += ' ';
      request += word;
   }
   request += "\n";
   const bool sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                     static_cast<ssize_t>(request.size());
   char buffer[65536];
   for (ssize_t n; sent && (n = read(fd, buffer, sizeof buffer)) > 0;) {
      std::cout.write(buffer, n);
   }
   std::cout << std::flush;
   close(fd);
   return sent ? 0 : 1;
}

// Runs the churn soak and says how it ended.
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

}  // namespace

int main(int argc, char** argv) {
   CLI::App app{
       "Runs NAT rule sets against a simulated switch: the NAT plug-in programs them "
       "into the chip's TCAM, and each step reports what the chip holds and hits."};
   app.require_subcommand(0, 1);
   std::string file;
   std::string socketPath;
   bool serving = false;
   app.add_option("scenario", file, "Scenario file (JSON); the built-in scenario without one")
       ->check(CLI::ExistingFile);
   app.add_option("--socket", socketPath, "Serve agent commands on this Unix-domain socket");
   app.add_flag("--serve", serving, "After the scenario, serve agent commands until Ctrl-C")
       ->needs("--socket");

   CLI::App* sendCommand = app.add_subcommand(
       "send", "Send one agent command: <command type> <module> [<command text>...]");
   std::string sendSocket;
   std::vector<std::string> words;
   sendCommand->add_option("--socket", sendSocket, "The agent's command socket")->required();
   sendCommand->add_option("words", words, "Command type, module and command text")
       ->required()
       ->expected(2, -1);

   CLI::App* soakCommand = app.add_subcommand(
       "soak",
       "Drive the whole agent with seeded random churn, restarts and faults, checking "
       "it after every step");
   uint64_t seed = 1;
   uint32_t steps = 1000;
   bool verbose = false;
   soakCommand->add_option("--seed", seed, "The seed; a failure prints the one to replay");
   soakCommand->add_option("--steps", steps, "How many steps to run");
   soakCommand->add_flag("--verbose", verbose, "Print every step");

   CLI11_PARSE(app, argc, argv);
   if (*sendCommand) return send(sendSocket, words);
   if (*soakCommand) return soak(seed, steps, verbose);
   return runScenario(file, socketPath, serving);
}

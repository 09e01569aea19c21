#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "simulator/switch/agent_launcher.h"

namespace Simulator {

// Starts the agent as a process of its own, as a switch's process manager does, and sees it
// die. Agents are forked by a launcher, `program agent --launcher --segment <segment>
// --socket <socket> <arguments>`, that the first start execs; each agent starts warm or cold,
// with its standard output on the supervisor's standard error (or both in the file `output`,
// when given), and dies with the supervisor. The supervisor's end kills it and removes its
// command socket.
class AgentSupervisor {
public:
   AgentSupervisor(std::string program, std::string segment, std::string socket,
                   std::vector<std::string> arguments, std::string output = "");
   ~AgentSupervisor();
   AgentSupervisor(const AgentSupervisor&) = delete;
   AgentSupervisor& operator=(const AgentSupervisor&) = delete;

   // Starts an agent; one must not be running. Throws when it cannot.
   void doStart(bool warm);
   // Kills the agent with SIGKILL and waits until it is gone; nothing when none runs.
   void doKill();
   // True, once, when the agent died since it started (killed by anyone but doKill(), or
   // exited); it is then gone.
   bool doReapDead();
   bool up() const { return pid_ != 0; }
   pid_t pid() const { return pid_; }
   const std::string& socket() const { return socket_; }
   // How the last agent that died or was killed went, as the shell says it: "killed by signal 9",
   // "exit status 1".
   const std::string& lastEnd() const { return lastEnd_; }
   // Readable when the launcher has news of the agent, such as its death: a waiter polls it
   // with whatever else it waits on.
   int reportDescriptor() const { return control_; }

private:
   void launcherStart();
   // The launcher's next report; false when `wait` is false and it has none.
   bool reportNext(LauncherReport& report, bool wait);
   void ended(const LauncherReport& report);
   // Reaps a launcher that went and throws what became of it.
   [[noreturn]] void launcherLost();

   std::string program_;
   std::string segment_;
   std::string socket_;
   std::vector<std::string> arguments_;
   std::string output_;
   pid_t launcher_ = 0;
   int control_ = -1;
   pid_t pid_ = 0;
   std::string lastEnd_;
};

}  // namespace Simulator

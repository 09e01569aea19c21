#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>

namespace Simulator {

// What the launcher tells its supervisor on the control socket: an agent it started, or the
// end of one (its wait status).
struct LauncherReport {
   enum class Kind : int32_t { started, ended };
   Kind kind;
   pid_t pid;  // the negated errno when the agent could not be started
   int status;
};

// The launcher's file descriptor of its control socket (SOCK_SEQPACKET) with the supervisor.
constexpr int launcherControlDescriptor = 3;

// A process that forks agents on request, so that a start costs a fork of a small process
// rather than an exec: the dynamic linking and the static initialisation happen once.
// Each request on `control` is one byte, 'w' to start an agent warm or 'c' cold; the launcher
// answers it with a started report, and reports each agent's end. A forked agent runs
// `agent(warm)` and exits with its result; it dies with the launcher. Returns when the
// supervisor closes its end.
int runAgentLauncher(int control, const std::function<int(bool warm)>& agent);

}  // namespace Simulator

#pragma once

#include <string>

namespace Simulator {

// The agent process's life: attaches the switch segment `segment`, reaches the chip in it
// through the SDK shim, hosts the agent (AgentHost) on its own loop, cold or `warm`, and
// serves the agent's commands at `socket`, until it is killed. Returns only when it cannot
// start: the reason is then on standard error, and the result is the exit status.
int runAgentProcess(const std::string& segment, const std::string& socket, bool warm);

}  // namespace Simulator

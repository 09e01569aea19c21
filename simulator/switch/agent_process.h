#pragma once

#include <string>

namespace Simulator {

// The agent process's life: attaches the switch segment `segment`, reaches the chip in it
// through the SDK shim, hosts the agent (AgentHost) on its own loop, cold or `warm`, and
// serves the agent's commands at `socket`, until it is killed. Its event-log messages go to
// standard error (as JSON Lines with `jsonLog`), a run of one message counted at the end of
// each burst of work. Returns
// only when it cannot start: the reason is then on standard error, and the result is the
// exit status.
int runAgentProcess(const std::string& segment, const std::string& socket, bool warm,
                    bool jsonLog = false);

}  // namespace Simulator

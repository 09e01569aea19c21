#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "simulator/switch/dump_table.h"

namespace Simulator {

// The operator's side of the agent's command socket: asks the agent at `socketPath` for
// `module`'s show dump and writes it to `out` in `format`.
// Says what went wrong in one line on `err`. Returns the exit status: ok, badInput for a path
// no socket can have, agentUnreachable when the dump did not come (nobody at the socket, the
// request or answer lost, or the agent's refusal, which is passed on). An agent that does not
// answer is asked again for a second, the time a restarted agent takes to serve again.
int showClient(const std::string& socketPath, uint16_t module, DumpFormat format,
               std::ostream& out, std::ostream& err);

}  // namespace Simulator

#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace Simulator {

// A seeded random driver of the whole agent, as the simulator runs it, with two or more
// modules: rules of all six types added, changed (data, VLAN lists, key counts) and deleted;
// the TCAM filled to exhaustion and the failed rules retried; modules added and removed;
// warm restarts with and without a flash download, and cold ones; shared-table corruption on
// targeted reads; framework work run inside SDK calls. After every step it checks that
//  - every request has the answer of each pending module, for its current value;
//  - each module's held entries are exactly the ids its entry-id table records, with nothing
//    of a previous run left once the flash download is done;
//  - when quiescent, the audit finds nothing and a packet built for each rule hits an entry
//    carrying the rule's uid;
//  - across a warm restart, none of those packets ever misses.
struct SoakResult {
   uint64_t seed = 0;
   uint32_t stepsRun = 0;
   std::string failure;  // empty when every check held
   // What the soak did last before the failure, oldest first: with the agent in a process of
   // its own a replay takes other turns, so this is the record of the run that failed.
   std::vector<std::string> lastSteps;
};

// Runs `steps` steps from `seed`, describing each on `log` when given, with the agent in a
// process of its own started from `agentProgram` (its "agent" command), or hosted in this
// process when that is empty. Stops at the first broken check, naming the step.
SoakResult runChurnSoak(uint64_t seed, uint32_t steps, std::ostream* log = nullptr,
                        const std::string& agentProgram = "");

}  // namespace Simulator

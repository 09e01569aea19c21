#pragma once

// tessel-nat's exit statuses, one meaning each whatever the command (the README's table).
namespace Simulator::ExitStatus {

inline constexpr int ok = 0;
// The switch was checked and found wrong: a verify step's disagreements (run), a check that
// failed (soak).
inline constexpr int checkFailed = 1;
// The command line or the scenario file is refused, before anything ran.
inline constexpr int badInput = 2;
// No dump from the agent (show): nothing listens at the socket, or the agent refused the
// request or dropped the connection.
inline constexpr int agentUnreachable = 3;
// The switch is sound but does not hold everything intended (run): a diff step found rules or
// VLANs not in hardware, or entries no rule intends. A rule set that does not fit ends here.
inline constexpr int notAsIntended = 5;
// The standard output could not be written (a full disk, a closed file), so whatever the
// command found is lost.
inline constexpr int outputLost = 4;

}  // namespace Simulator::ExitStatus

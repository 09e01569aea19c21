#pragma once

#include <stdexcept>
#include <string>

namespace Simulator {

// Why an agent's command socket gave no answer: nobody there, the request or the answer lost.
class CommandUnanswered : public std::runtime_error {
public:
   using std::runtime_error::runtime_error;
};

// The operator's side of an agent's command socket: sends `request` ("<command type>
// <module> [<command text>]", without its newline) to the socket at `socketPath` and returns
// the whole answer, a refusal ("error: ...") included. Throws std::invalid_argument for a path
// no socket can have, CommandUnanswered (naming the path and the reason) otherwise.
std::string agentAnswer(const std::string& socketPath, const std::string& request);

}  // namespace Simulator

#pragma once

#include <stdexcept>

#include "platform/agent/command/descriptor.h"
#include "platform/framework/kiv/string.h"

namespace Agent {

// A non-blocking Unix-domain stream socket listening at `path`, readable and writable by this
// user only. The path must be free or hold a stale socket, one nobody listens on any more (a
// previous agent's leftover), which is replaced. Throws std::runtime_error with a one-line
// message naming the path when a server already answers there, when something other than a
// socket stands there, or when its directory does not exist; std::system_error when another
// step fails. The caller removes the socket file when it stops listening.
Descriptor listenerAt(const Kiv::String& path);

}  // namespace Agent

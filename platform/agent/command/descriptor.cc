#include "platform/agent/command/descriptor.h"

#include <unistd.h>

namespace Agent {

Descriptor::~Descriptor() {
   if (fd_ >= 0) ::close(fd_);
}

}  // namespace Agent

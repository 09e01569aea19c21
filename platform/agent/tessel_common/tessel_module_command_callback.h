#pragma once

#include "platform/agent/tessel_common/agent_command_callback.h"

namespace Tessel {

// A command callback addressed per module: the command server passes "<module> <text>", and
// the callback answers for that one module through doProcessCommand.
class TesselModuleCommandCallback : public TesselCommon::AgentCommandCallback {
public:
   using TesselCommon::AgentCommandCallback::AgentCommandCallback;

   // Splits off the module number; throws std::invalid_argument when there is none or it is
   // not a 16-bit number.
   void handleCommand(U32 socket, Kiv::String command) override;
   virtual void doProcessCommand(U32 socket, Kiv::String command, U16 unit) = 0;
};

}  // namespace Tessel

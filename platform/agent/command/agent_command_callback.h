#pragma once

#include "platform/agent/command/command_request.h"
#include "platform/framework/kiv/entity.h"
#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"

namespace Agent {

// The agent's hook for one command type: the command server hands every request naming
// `commandType()` to the callback registered for it, on the framework loop with the activity
// lock held, with a descriptor for the answer. Whatever the callback writes to it is the
// answer; the server keeps it and sends it to the client after the call, so a write there
// never waits on the client nor fails because the client has gone.
class AgentCommandCallbackBase : public Kiv::Entity {
public:
   AgentCommandCallbackBase(Kiv::Name name, Kiv::String commandType)
       : Kiv::Entity(std::move(name)), commandType_(std::move(commandType)) {}

   const Kiv::String& commandType() const { return commandType_; }

   // `command` is the request after its command type: "<module> <command text>". An
   // exception leaves the call as a one-line error on the connection.
   virtual void handleCommand(U32 socket, Kiv::String command) = 0;
   // Commands addressed to the whole slice rather than one module; none by default.
   virtual void doProcessSliceCommand(U32, Kiv::String) {}

private:
   Kiv::String commandType_;
};

class AgentCommandCallback : public AgentCommandCallbackBase {
public:
   using AgentCommandCallbackBase::AgentCommandCallbackBase;

   // A callback that answers later returns the machine that writes the answer when it is
   // done. The command server answers every request within handleCommand, so none is made.
   virtual Kiv::Ptr<Kiv::PtrInterface> createAgentAsyncCommandRequestSm(const CommandRequest&) {
      return nullptr;
   }
};

}  // namespace Agent

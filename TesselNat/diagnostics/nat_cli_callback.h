#pragma once

#include "platform/agent/tessel_common/tessel_module_command_callback.h"
#include "platform/framework/kiv/type_registry.h"

namespace Tessel {

class NatMounter;

// The plug-in's answer to the agent's "TesselNat" command: the show dump of the module's
// programmer, written to the command's socket whatever the command text says. It keeps
// nothing between commands; each one looks the mounter, root and programmer up afresh, so a
// command that finds none of them is answered with nothing.
class NatCliCallback : public TesselModuleCommandCallback {
public:
   explicit NatCliCallback(Kiv::Name name);

   // The mounter shared under this callback's own name, or null.
   Kiv::Ptr<NatMounter> natMounter() const;

   // Throws the module-id range error for a unit above 64, before writing anything.
   void doProcessCommand(U32 socket, Kiv::String command, U16 unit) override;

   static Kiv::Ptr<Kiv::TypeNode> typeNode();
};

// The type's directory factory: a callback with that name, notifications on.
Kiv::Ptr<Kiv::PtrInterface> natCliCallbackFactory(const Kiv::Name& name,
                                                  const Kiv::Ptr<Kiv::Entity>& directory);

}  // namespace Tessel

#pragma once

#include <functional>
#include <map>

#include "platform/agent/plugin/mounter.h"
#include "platform/agent/tessel_common/agent_command_callback.h"
#include "platform/framework/kiv/ptr.h"
#include "platform/framework/kiv/string.h"
#include "platform/tables/kiv_shoal/entity_manager.h"

namespace Plugin {

// The agent's plug-in machinery: loads plug-in libraries, keeps the objects the agent shares
// with its plug-ins by name, and creates a plug-in's mounter by type name.
class Loader {
public:
   // A library's load-time registration (types, trace facilities, event-log messages).
   using Registration = std::function<void()>;

   explicit Loader(Kiv::Ptr<KivShoal::EntityManager> shoalEntityManager);
   ~Loader();

   // Runs the library's registration the first time the library is loaded in this process,
   // as a shared library's static initialisers would; later loads find it registered.
   void libraryIs(const Kiv::String& library, const Registration& registration);
   static bool libraryLoaded(const Kiv::String& library);

   // Objects the agent shares with its plug-ins ("tcamManager", "tesselCommon").
   void sharedEntityIs(const Kiv::String& name, const Kiv::Ptr<Kiv::PtrInterface>& entity);
   // Null when nothing is shared under the name. Every mounter is shared under its own name,
   // which is how a plug-in's command callback of the same name finds it.
   Kiv::Ptr<Kiv::PtrInterface> sharedEntity(const Kiv::String& name) const;

   // Creates the mounter of registered type `typeName` through the type's directory factory,
   // named `name`, with this loader and its entity manager. Throws the type error when the
   // type is unknown, has no factory or does not make a mounter.
   Kiv::Ptr<Mounter> mounterIs(const Kiv::String& typeName, const Kiv::Name& name);

   // Creates the command callback of registered type `typeName`, named `name`, through the
   // type's directory factory; the agent then registers it with its command server. Throws the
   // type error when the type is unknown, has no factory or does not make a callback.
   Kiv::Ptr<TesselCommon::AgentCommandCallback> commandCallbackIs(const Kiv::String& typeName,
                                                                  const Kiv::Name& name);

   const Kiv::Ptr<KivShoal::EntityManager>& shoalEntityManager() const {
      return shoalEntityManager_;
   }

private:
   Kiv::Ptr<KivShoal::EntityManager> shoalEntityManager_;
   std::map<Kiv::String, Kiv::Ptr<Kiv::PtrInterface>> shared_;
   std::map<Kiv::String, Kiv::Ptr<Mounter>> mounters_;
   std::map<Kiv::String, Kiv::Ptr<TesselCommon::AgentCommandCallback>> commandCallbacks_;
};

}  // namespace Plugin

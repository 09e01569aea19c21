#pragma once

#include "platform/framework/kiv/entity.h"
#include "platform/framework/kiv/ptr.h"
#include "platform/tables/kiv_shoal/entity_manager.h"

namespace Plugin {

class Loader;

// A plug-in's entry point into the agent, created by the loader from the plug-in's type and
// initialised once the agent's shared objects are published: doInit() mounts what the
// plug-in needs and builds its state machines.
class Mounter : public Kiv::Entity {
public:
   using Kiv::Entity::Entity;

   // The loader that created this mounter (not owned; null once it is gone).
   Loader* loader() const { return loader_; }
   // The agent's shared-memory mounts.
   const Kiv::Ptr<KivShoal::EntityManager>& shoalEntityManager() const {
      return shoalEntityManager_;
   }

   virtual void doInit() {}

private:
   friend class Loader;

   Loader* loader_ = nullptr;
   Kiv::Ptr<KivShoal::EntityManager> shoalEntityManager_;
};

}  // namespace Plugin

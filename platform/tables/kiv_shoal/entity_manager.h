#pragma once

#include <map>
#include <vector>

#include "platform/framework/kiv/entity.h"
#include "platform/framework/kiv/ptr.h"
#include "platform/tables/kiv_shared_mem/mount_group.h"
#include "platform/tables/kiv_shoal/mount_info.h"

namespace KivShoal {

// One doMount() call as it was made.
struct MountRequest {
   Kiv::String path;
   Kiv::String typeName;
   MountInfo mountInfo;
};

// Owns the shared tables mounted in this process, by path. Tables are created through the
// table factory registry on first mount; tests and control-plane stand-ins may also place
// (and replace) entities at paths directly.
class EntityManager : public Kiv::Entity {
public:
   explicit EntityManager(Kiv::Name name);
   ~EntityManager() override;

   // The entity at `path`, created by the factory registered for `typeName` unless the path
   // is already mounted, in which case the existing entity is returned whatever the type
   // name. Every request is recorded, failed ones too. Throws Kiv::TypeException when a
   // table must be created and no factory is registered for `typeName`, and Kiv::Exception
   // when the factory creates nothing.
   Kiv::Ptr<Kiv::Entity> doMount(const Kiv::String& path, const Kiv::String& typeName,
                                 const MountInfo& mountInfo);

   // The entity mounted at `path`, or null.
   Kiv::Ptr<Kiv::Entity> getEntity(const Kiv::String& path) const;
   // Places `entity` at `path`, replacing what was there; null unmounts the path.
   void entityIs(const Kiv::String& path, const Kiv::Ptr<Kiv::Entity>& entity);

   // The manager's mount group, created on first use and kept for the manager's lifetime.
   Kiv::Ptr<KivSharedMem::MountGroup> getMountGroup();

   const std::vector<MountRequest>& mountRequests() const { return requests_; }
   bool mountRequested(const Kiv::String& path) const;

private:
   std::map<Kiv::String, Kiv::Ptr<Kiv::Entity>> entities_;
   std::vector<MountRequest> requests_;
   Kiv::Ptr<KivSharedMem::MountGroup> mountGroup_;
};

}  // namespace KivShoal

#pragma once

#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "platform/framework/kiv/entity.h"
#include "platform/framework/kiv/ptr.h"
#include "platform/tables/kiv_shared_mem/mount_group.h"
#include "platform/tables/kiv_shoal/mount_info.h"
#include "platform/tables/shoal/shared_store.h"

namespace KivShoal {

// One doMount() call as it was made.
struct MountRequest {
   Kiv::String path;
   Kiv::String typeName;
   MountInfo mountInfo;
};

// An agent's mounts of shared tables, by path, over the shared store. A writer mount creates
// the table and owns it: it leaves the store when the manager goes, so the agent's own
// tables start empty after a restart. Reader mounts see tables others publish, which outlive
// the manager. Tests and stand-ins may also place (and replace) entities at paths directly.
class EntityManager : public Kiv::Entity {
public:
   EntityManager(Kiv::Name name, Kiv::Ptr<Shoal::SharedStore> store);
   ~EntityManager() override;

   // The mount at `path`: the one this manager already has, whatever the type name, or a new
   // mount of the store's table there. A writer mount replaces any table at the path by a new
   // empty one whose capacity is the size of the mount info's first collection. Every request
   // is recorded, failed ones too. Throws Kiv::TypeException when no table factory is
   // registered for `typeName` or the store holds a table of another type at `path`.
   Kiv::Ptr<Kiv::Entity> doMount(const Kiv::String& path, const Kiv::String& typeName,
                                 const MountInfo& mountInfo);

   // The entity mounted at `path`, or null.
   Kiv::Ptr<Kiv::Entity> getEntity(const Kiv::String& path) const;
   // Places `entity` at `path`, replacing what was there; null unmounts the path.
   void entityIs(const Kiv::String& path, const Kiv::Ptr<Kiv::Entity>& entity);

   // The manager's mount group, created on first use and kept for the manager's lifetime.
   Kiv::Ptr<KivSharedMem::MountGroup> getMountGroup();

   const Kiv::Ptr<Shoal::SharedStore>& store() const { return store_; }
   const std::vector<MountRequest>& mountRequests() const { return requests_; }
   bool mountRequested(const Kiv::String& path) const;

private:
   const Kiv::Ptr<Shoal::SharedStore> store_;
   std::map<Kiv::String, Kiv::Ptr<Kiv::Entity>> entities_;
   std::vector<std::pair<Kiv::String, std::shared_ptr<Shoal::TableState>>> ownedTables_;
   std::vector<MountRequest> requests_;
   Kiv::Ptr<KivSharedMem::MountGroup> mountGroup_;
};

}  // namespace KivShoal

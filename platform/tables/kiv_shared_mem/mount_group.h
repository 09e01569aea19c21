#pragma once

#include <vector>

#include "platform/framework/kiv/entity.h"
#include "platform/framework/kiv/ptr.h"
#include "platform/tables/kiv_shoal/mount_info.h"

namespace KivShoal {
class EntityManager;
}

namespace KivSharedMem {

// A batch of mounts that a client opens, fills with doMount() and closes with doClose().
// Closing only closes: each table of the group fills later, through the framework's loop,
// and once all have, the group turns ready, notifying onReady() exactly once; ready never
// turns false again. So whoever closes the group has returned, and whatever it built
// afterwards exists, before ready turns true.
class MountGroup : public Kiv::Entity {
public:
   class Notifiee : public Kiv::NotifieeOf<MountGroup> {
   public:
      virtual void onReady() {}
   };

   // `manager` is not owned; the manager clears it (entityManagerIs(nullptr)) when it goes.
   MountGroup(Kiv::Name name, KivShoal::EntityManager* manager);
   ~MountGroup() override;

   // Mounts through the group's entity manager and returns the mounted entity; a path the
   // group already holds is found again, also once closed. Throws Kiv::Exception for a new
   // path on a closed group or when the manager is gone, and whatever the manager's
   // doMount() throws.
   Kiv::Ptr<Kiv::Entity> doMount(const Kiv::String& path, const Kiv::String& typeName,
                                 const KivShoal::MountInfo& mountInfo);
   // No more mounts after this; the completion of the group's mounts is queued on the
   // framework's loop. Closing twice is harmless.
   void doClose();
   bool closed() const { return closed_; }
   bool ready() const { return ready_; }

   // Paths mounted through this group, in request order.
   const std::vector<Kiv::String>& mountedPaths() const { return mountedPaths_; }

   // The group's mounts are complete: a closed group turns ready. The loop calls this once
   // the tables have filled; a test that wants readiness at once calls it itself.
   void doMountsComplete();

   KivShoal::EntityManager* entityManager() const { return manager_; }
   void entityManagerIs(KivShoal::EntityManager* manager) { manager_ = manager; }

private:
   void readyWhenFilled();
   bool mountsFilled() const;

   KivShoal::EntityManager* manager_;
   std::vector<Kiv::String> mountedPaths_;
   bool closed_ = false;
   bool ready_ = false;
};

}  // namespace KivSharedMem

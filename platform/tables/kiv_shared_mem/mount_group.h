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
// The group turns ready once it is closed and its mounts are complete, notifying onReady()
// exactly once; ready never turns false again.
//
// In-process mounts complete at once, so a closed group is ready at doClose(). A test that
// wants to see readiness arrive later defers completion (mountsCompleteDeferredIs(true))
// and completes the mounts itself with doMountsComplete().
class MountGroup : public Kiv::Entity {
public:
   class Notifiee : public Kiv::NotifieeOf<MountGroup> {
   public:
      virtual void onReady() {}
   };

   // `manager` is not owned; the manager clears it (entityManagerIs(nullptr)) when it goes.
   MountGroup(Kiv::Name name, KivShoal::EntityManager* manager);
   ~MountGroup() override;

   // Mounts through the group's entity manager and returns the mounted entity. Throws
   // Kiv::Exception when the group is closed or its manager is gone, and whatever the
   // manager's doMount() throws.
   Kiv::Ptr<Kiv::Entity> doMount(const Kiv::String& path, const Kiv::String& typeName,
                                 const KivShoal::MountInfo& mountInfo);
   // No more mounts after this; closing twice is harmless.
   void doClose();
   bool closed() const { return closed_; }
   bool ready() const { return ready_; }

   // Paths mounted through this group, in request order.
   const std::vector<Kiv::String>& mountedPaths() const { return mountedPaths_; }

   void mountsCompleteDeferredIs(bool deferred);
   bool mountsCompleteDeferred() const { return deferred_; }
   // Completes deferred mounts; the group turns ready now if it is closed, else at close.
   void doMountsComplete();

   KivShoal::EntityManager* entityManager() const { return manager_; }
   void entityManagerIs(KivShoal::EntityManager* manager) { manager_ = manager; }

private:
   void readyUpdate();

   KivShoal::EntityManager* manager_;
   std::vector<Kiv::String> mountedPaths_;
   bool closed_ = false;
   bool deferred_ = false;
   bool mountsComplete_ = false;
   bool ready_ = false;
};

}  // namespace KivSharedMem

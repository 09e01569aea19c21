#include "platform/tables/kiv_shared_mem/mount_group.h"

#include "platform/framework/kiv/errors.h"
#include "platform/tables/kiv_shoal/entity_manager.h"

namespace KivSharedMem {

MountGroup::MountGroup(Kiv::Name name, KivShoal::EntityManager* manager)
    : Kiv::Entity(std::move(name)), manager_(manager) {}

MountGroup::~MountGroup() = default;

Kiv::Ptr<Kiv::Entity> MountGroup::doMount(const Kiv::String& path, const Kiv::String& typeName,
                                          const KivShoal::MountInfo& mountInfo) {
   if (closed_) {
      throw Kiv::Exception("mount group '" + name() + "' is closed; cannot mount '" + path + "'");
   }
   if (!manager_) {
      throw Kiv::Exception("mount group '" + name() + "' has no entity manager; cannot mount '" +
                           path + "'");
   }
   Kiv::Ptr<Kiv::Entity> entity = manager_->doMount(path, typeName, mountInfo);
   mountedPaths_.push_back(path);
   return entity;
}

void MountGroup::doClose() {
   closed_ = true;
   readyUpdate();
}

void MountGroup::mountsCompleteDeferredIs(bool deferred) {
   deferred_ = deferred;
   readyUpdate();
}

void MountGroup::doMountsComplete() {
   mountsComplete_ = true;
   readyUpdate();
}

void MountGroup::readyUpdate() {
   if (ready_ || !closed_ || (deferred_ && !mountsComplete_)) return;
   ready_ = true;
   notify<Notifiee>([](Notifiee& n) { n.onReady(); });
}

}  // namespace KivSharedMem

#include "platform/tables/kiv_shared_mem/mount_group.h"

#include <algorithm>

#include "platform/framework/kiv/errors.h"
#include "platform/framework/kiv/event_loop.h"
#include "platform/tables/kiv_shoal/entity_manager.h"
#include "platform/tables/shoal/shoal_map_base.h"

namespace KivSharedMem {

MountGroup::MountGroup(Kiv::Name name, KivShoal::EntityManager* manager)
    : Kiv::Entity(std::move(name)), manager_(manager) {}

MountGroup::~MountGroup() = default;

Kiv::Ptr<Kiv::Entity> MountGroup::doMount(const Kiv::String& path, const Kiv::String& typeName,
                                          const KivShoal::MountInfo& mountInfo) {
   // A closed group takes no new mount; one it already holds is simply found again.
   const bool known =
       std::find(mountedPaths_.begin(), mountedPaths_.end(), path) != mountedPaths_.end();
   if (closed_ && !known) {
      throw Kiv::Exception("mount group '" + name() + "' is closed; cannot mount '" + path + "'");
   }
   if (!manager_) {
      throw Kiv::Exception("mount group '" + name() + "' has no entity manager; cannot mount '" +
                           path + "'");
   }
   Kiv::Ptr<Kiv::Entity> entity = manager_->doMount(path, typeName, mountInfo);
   if (!known) mountedPaths_.push_back(path);
   return entity;
}

void MountGroup::doClose() {
   if (closed_) return;
   closed_ = true;
   readyWhenFilled();
}

// Each table fills on the loop after it is mounted; the group looks again after them until
// every one has.
void MountGroup::readyWhenFilled() {
   Kiv::eventLoop().workIs([group = Kiv::Ptr<MountGroup>(this)] {
      if (group->mountsFilled()) {
         group->doMountsComplete();
      } else {
         group->readyWhenFilled();
      }
   });
}

bool MountGroup::mountsFilled() const {
   if (!manager_) return true;
   return std::all_of(mountedPaths_.begin(), mountedPaths_.end(), [&](const Kiv::String& path) {
      const auto* table = dynamic_cast<const Shoal::ShoalMapBase*>(manager_->getEntity(path).ptr());
      return !table || table->mountComplete();
   });
}

void MountGroup::doMountsComplete() {
   if (ready_ || !closed_) return;
   ready_ = true;
   notify<Notifiee>([](Notifiee& n) { n.onReady(); });
}

}  // namespace KivSharedMem

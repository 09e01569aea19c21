#include "platform/framework/kiv/entity.h"

namespace Kiv {

Entity::~Entity() = default;

void Entity::parentIs(const Entity* parent, Name attrName) {
   parent_ = parent;
   parentAttrName_ = std::move(attrName);
}

String Entity::fullName() const { return parent_ ? parent_->fullName() + "/" + name_ : name_; }

void Entity::notifieeAdd(NotifieeBase* notifiee) const { notifiees_.push_back(notifiee); }

void Entity::notifieeRemove(NotifieeBase* notifiee) const {
   notifiees_.erase(std::remove(notifiees_.begin(), notifiees_.end(), notifiee), notifiees_.end());
}

String textOf(const PtrInterface* object) {
   if (!object) return "None";
   if (const auto* entity = dynamic_cast<const Entity*>(object)) {
      return format("Entity('%s' at %p)", entity->name().c_str(), static_cast<const void*>(object));
   }
   return format("Object(%p)", static_cast<const void*>(object));
}

}  // namespace Kiv

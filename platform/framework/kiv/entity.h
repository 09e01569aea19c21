#pragma once

#include <algorithm>
#include <vector>

#include "platform/framework/kiv/ptr.h"
#include "platform/framework/kiv/string.h"

namespace Kiv {

using Name = String;

class NotifieeBase;

// A named framework object that others observe through notifiees. An entity type that
// reports changes declares a nested `Notifiee` (deriving from NotifieeOf<itself>) with one
// virtual handler per attribute, and calls notify() after each real change: once per
// changed attribute, once per changed key of a collection attribute.
class Entity : public PtrInterface {
public:
   explicit Entity(Name name) : name_(std::move(name)) {}
   ~Entity() override;

   const Name& name() const { return name_; }
   // Where the entity lives: the directory it was made for and the directory's attribute
   // that holds it; none for an entity made on its own. A directory outlives its entries.
   const Entity* parent() const { return parent_; }
   const Name& parentAttrName() const { return parentAttrName_; }
   void parentIs(const Entity* parent, Name attrName);
   // The names from the outermost directory down to this entity, joined by "/".
   String fullName() const;
   // The entity itself, as generic access hands out the object behind a name.
   Ptr<const Entity> entity() const { return Ptr<const Entity>(this); }

   // Called by NotifieeOf; not for other callers.
   void notifieeAdd(NotifieeBase* notifiee) const;
   void notifieeRemove(NotifieeBase* notifiee) const;
   size_t notifiees() const { return notifiees_.size(); }

protected:
   // Calls `handler` on every registered notifiee of type N that accepts notifications.
   // A notifiee that a handler removes (or destroys) during the dispatch is not called.
   template <class N, class F>
   void notify(F&& handler) const;

private:
   Name name_;
   const Entity* parent_ = nullptr;
   Name parentAttrName_;
   mutable std::vector<NotifieeBase*> notifiees_;
};

// Text form of an entity pointer, as used in the framework's error messages.
String textOf(const PtrInterface* object);
template <class T>
String textOf(const Ptr<T>& object) {
   return textOf(static_cast<const PtrInterface*>(object.ptr()));
}

// Common part of every notifiee: whether it currently accepts notifications.
class NotifieeBase {
public:
   virtual ~NotifieeBase() = default;

   bool isActive() const { return active_; }
   void isActiveIs(bool active) { active_ = active; }

   // Reactors refuse notifications while their owner is being torn down.
   virtual bool accepts() const { return active_; }

private:
   bool active_ = false;
};

// Notifiee of one entity of type T; `notifierIs` attaches it and retargets it later.
template <class T>
class NotifieeOf : public NotifieeBase {
public:
   ~NotifieeOf() override { detach(); }

   const Ptr<const T>& notifier() const { return notifier_; }
   void notifierIs(const Ptr<const T>& notifier) {
      if (notifier == notifier_) return;
      detach();
      notifier_ = notifier;
      if (notifier_) notifier_->notifieeAdd(this);
   }

private:
   void detach() {
      if (notifier_) notifier_->notifieeRemove(this);
      notifier_ = nullptr;
   }

   Ptr<const T> notifier_;
};

template <class N, class F>
void Entity::notify(F&& handler) const {
   // Most entities have one notifiee or none, and nothing runs after the one call that could
   // see the list change: only a longer list is copied first.
   if (notifiees_.size() <= 1) {
      if (!notifiees_.empty() && notifiees_.front()->accepts()) {
         handler(static_cast<N&>(*notifiees_.front()));
      }
      return;
   }
   const std::vector<NotifieeBase*> snapshot = notifiees_;
   for (NotifieeBase* notifiee : snapshot) {
      // A handler may have detached or destroyed a later notifiee.
      if (std::find(notifiees_.begin(), notifiees_.end(), notifiee) == notifiees_.end()) continue;
      if (!notifiee->accepts()) continue;
      handler(static_cast<N&>(*notifiee));
   }
}

}  // namespace Kiv

#include "platform/tables/kiv_shoal/entity_manager.h"

#include <algorithm>

#include "platform/framework/kiv/errors.h"
#include "platform/tables/kiv_shoal/table_factory.h"

namespace KivShoal {

EntityManager::EntityManager(Kiv::Name name, Kiv::Ptr<Shoal::SharedStore> store)
    : Kiv::Entity(std::move(name)), store_(std::move(store)) {}

EntityManager::~EntityManager() {
   // The group may outlive us in someone else's hands; it must not mount through us then.
   if (mountGroup_) mountGroup_->entityManagerIs(nullptr);
   // A table another writer has since put at the path is not ours to delete.
   for (const auto& [path, state] : ownedTables_) {
      const std::optional<Shoal::SharedStore::Table> table = store_->table(path);
      if (table && table->state == state) store_->tableDel(path);
   }
}

Kiv::Ptr<Kiv::Entity> EntityManager::doMount(const Kiv::String& path, const Kiv::String& typeName,
                                             const MountInfo& mountInfo) {
   requests_.push_back(MountRequest{path, typeName, mountInfo});
   if (Kiv::Ptr<Kiv::Entity> existing = getEntity(path)) return existing;

   const TableType type = tableType(typeName);
   if (!type.factory) Kiv::throwTypeException(Kiv::typeErrorText(typeName, "mount " + path));
   const bool writer = mountInfo.type() == KivShoalType::writer;
   std::optional<Shoal::SharedStore::Table> shared;
   if (!writer) shared = store_->table(path);
   if (shared && shared->typeName != typeName) {
      Kiv::throwTypeException(
          Kiv::typeErrorText(typeName, "mount " + path + " holding " + shared->typeName));
   }
   const bool created = !shared;
   if (created) {
      // A writer's table holds as many records as its first collection asks for.
      const auto& collections = mountInfo.collectionInfos();
      const U32 capacity = writer && !collections.empty() ? collections.front().size : 0;
      shared = Shoal::SharedStore::Table{typeName, store_->tableNew(type.shape, capacity)};
   }
   const Kiv::Ptr<Shoal::ShoalMapBase> table = type.factory(
       path, shared->state, writer ? Shoal::Access::readWrite : Shoal::Access::readOnly);
   if (!table) {
      throw Kiv::Exception("the table factory for type '" + typeName + "' created nothing for '" +
                           path + "'");
   }
   if (writer) ownedTables_.emplace_back(path, shared->state);
   if (created) store_->tableIs(path, *shared);
   entityIs(path, table);
   return table;
}

Kiv::Ptr<Kiv::Entity> EntityManager::getEntity(const Kiv::String& path) const {
   auto it = entities_.find(path);
   return it == entities_.end() ? Kiv::Ptr<Kiv::Entity>() : it->second;
}

void EntityManager::entityIs(const Kiv::String& path, const Kiv::Ptr<Kiv::Entity>& entity) {
   if (entity) {
      entities_[path] = entity;
   } else {
      entities_.erase(path);
   }
}

Kiv::Ptr<KivSharedMem::MountGroup> EntityManager::getMountGroup() {
   if (!mountGroup_) {
      mountGroup_ = Kiv::Ptr<KivSharedMem::MountGroup>(
          new KivSharedMem::MountGroup(name() + "/mountGroup", this));
   }
   return mountGroup_;
}

bool EntityManager::mountRequested(const Kiv::String& path) const {
   return std::any_of(requests_.begin(), requests_.end(),
                      [&](const MountRequest& r) { return r.path == path; });
}

}  // namespace KivShoal

#include "platform/tables/shoal/shared_store.h"

namespace Shoal {

const SharedStore::Table* SharedStore::table(const Kiv::String& path) const {
   auto it = tables_.find(path);
   return it == tables_.end() ? nullptr : &it->second;
}

void SharedStore::tableIs(const Kiv::String& path, Table table) {
   tables_.insert_or_assign(path, std::move(table));
}

void SharedStore::tableDel(const Kiv::String& path) { tables_.erase(path); }

std::vector<Kiv::String> SharedStore::paths() const {
   std::vector<Kiv::String> paths;
   for (const auto& [path, table] : tables_) paths.push_back(path);
   return paths;
}

}  // namespace Shoal

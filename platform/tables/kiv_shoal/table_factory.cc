#include "platform/tables/kiv_shoal/table_factory.h"

#include <map>
#include <mutex>

namespace KivShoal {
namespace {

struct Registry {
   std::mutex mutex;
   std::map<Kiv::String, TableType> types;
};

// Built on first use, so that registrations from other static initialisers find it.
Registry& registry() {
   static Registry instance;
   return instance;
}

}  // namespace

void tableTypeIs(const Kiv::String& typeName, TableType type) {
   Registry& r = registry();
   std::lock_guard<std::mutex> guard(r.mutex);
   r.types[typeName] = std::move(type);
}

void tableTypeDel(const Kiv::String& typeName) {
   Registry& r = registry();
   std::lock_guard<std::mutex> guard(r.mutex);
   r.types.erase(typeName);
}

TableType tableType(const Kiv::String& typeName) {
   Registry& r = registry();
   std::lock_guard<std::mutex> guard(r.mutex);
   auto it = r.types.find(typeName);
   return it == r.types.end() ? TableType() : it->second;
}

}  // namespace KivShoal

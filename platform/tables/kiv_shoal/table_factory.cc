#include "platform/tables/kiv_shoal/table_factory.h"

#include <map>
#include <mutex>

namespace KivShoal {
namespace {

struct Registry {
   std::mutex mutex;
   std::map<Kiv::String, TableFactory> factories;
};

// Built on first use, so that registrations from other static initialisers find it.
Registry& registry() {
   static Registry instance;
   return instance;
}

}  // namespace

void tableFactoryIs(const Kiv::String& typeName, TableFactory factory) {
   Registry& r = registry();
   std::lock_guard<std::mutex> guard(r.mutex);
   r.factories[typeName] = std::move(factory);
}

void tableFactoryDel(const Kiv::String& typeName) {
   Registry& r = registry();
   std::lock_guard<std::mutex> guard(r.mutex);
   r.factories.erase(typeName);
}

TableFactory tableFactory(const Kiv::String& typeName) {
   Registry& r = registry();
   std::lock_guard<std::mutex> guard(r.mutex);
   auto it = r.factories.find(typeName);
   return it == r.factories.end() ? TableFactory() : it->second;
}

}  // namespace KivShoal

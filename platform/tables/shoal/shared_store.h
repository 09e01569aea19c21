#pragma once

#include <map>
#include <memory>
#include <vector>

#include "platform/framework/kiv/errors.h"
#include "platform/framework/kiv/ptr.h"
#include "platform/framework/kiv/string.h"
#include "platform/tables/shoal/shoal_map_base.h"

namespace Shoal {

// Shared memory: the tables of the switch by path ("tesselnat/hwShadow", ...), apart from any
// agent. The control plane publishes into it from its own process, and every agent mounts the
// same tables from it, so what was written outlives an agent that is torn down and built
// again. A mount holds the table's state, not the store: a table deleted from the store lives
// on for the mounts that still hold it, and a new table at the path is a new table.
//
// Here the store is one in-process object; records are plain structs, so a memory-mapped
// segment could take its place behind the same interface.
class SharedStore : public Kiv::PtrInterface {
public:
   struct Table {
      Kiv::String typeName;
      std::shared_ptr<TableState> state;
   };

   // The table at `path`, or null.
   const Table* table(const Kiv::String& path) const;
   // Places a table at `path`, replacing what was there.
   void tableIs(const Kiv::String& path, Table table);
   void tableDel(const Kiv::String& path);
   std::vector<Kiv::String> paths() const;

private:
   std::map<Kiv::String, Table> tables_;
};

// A writable mount of the table of type T at `path`, created empty when the path holds none;
// a path holding a table of another type raises Kiv::TypeException. This is how a publisher
// outside the agent (the control plane) writes its tables: they stay in the store until the
// path is deleted.
template <class T>
Kiv::Ptr<T> publisherMount(SharedStore& store, const Kiv::String& path) {
   const SharedStore::Table* existing = store.table(path);
   if (existing && existing->typeName != T::typeName) {
      Kiv::throwTypeException(Kiv::typeErrorText(existing->typeName, "publish " + path));
   }
   Kiv::Ptr<T> mount(new T(path, existing ? existing->state : nullptr, Access::readWrite));
   if (!existing) store.tableIs(path, {T::typeName, mount->sharedState()});
   return mount;
}

}  // namespace Shoal

#pragma once

#include <functional>
#include <memory>

#include "platform/framework/kiv/ptr.h"
#include "platform/tables/shoal/shoal_map_base.h"
#include "platform/tables/shoal/table_header.h"

namespace KivShoal {

// A type of table that mounts can create: the shape of its records, which a new table's block
// is laid out for, and how a mount of it is made: its name is the path, its state the table's,
// and its access what the mount type allows.
struct TableType {
   using Factory = std::function<Kiv::Ptr<Shoal::ShoalMapBase>(
       const Kiv::Name& path, const std::shared_ptr<Shoal::TableState>& state,
       Shoal::Access access)>;

   Shoal::TableShape shape;
   Factory factory;
};

// The process-wide registry of table types, by type name. Safe to use from any thread and
// from static initialisers.

// Registers `type` under `typeName`, replacing an earlier one.
void tableTypeIs(const Kiv::String& typeName, TableType type);
// Registers the table class T (a Shoal::Table with a `typeName`).
template <class T>
void tableTypeIs() {
   tableTypeIs(T::typeName,
               TableType{T::shape(),
                         [](const Kiv::Name& path, const std::shared_ptr<Shoal::TableState>& state,
                            Shoal::Access access) {
                            return Kiv::Ptr<Shoal::ShoalMapBase>(new T(path, state, access));
                         }});
}
void tableTypeDel(const Kiv::String& typeName);
// The registered type, or one with an empty factory when the type name is unknown.
TableType tableType(const Kiv::String& typeName);

}  // namespace KivShoal

#pragma once

#include <functional>
#include <memory>

#include "platform/framework/kiv/ptr.h"
#include "platform/tables/shoal/shoal_map_base.h"

namespace KivShoal {

// Creates a mount of a table: its name is the path, its state the table's (a new empty table
// when null), and its access what the mount type allows.
using TableFactory = std::function<Kiv::Ptr<Shoal::ShoalMapBase>(
    const Kiv::Name& path, const std::shared_ptr<Shoal::TableState>& state, Shoal::Access access)>;

// The process-wide registry of table types that mounts can create, by type name. Safe to
// use from any thread and from static initialisers.

// Registers `factory` under `typeName`, replacing an earlier one.
void tableFactoryIs(const Kiv::String& typeName, TableFactory factory);
void tableFactoryDel(const Kiv::String& typeName);
// The registered factory, or an empty one when the type name is unknown.
TableFactory tableFactory(const Kiv::String& typeName);

}  // namespace KivShoal

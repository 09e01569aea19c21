#pragma once

#include <functional>

#include "platform/framework/kiv/entity.h"
#include "platform/framework/kiv/ptr.h"

namespace KivShoal {

// Creates the table mounted at a path; the argument is the path, used as the table's name.
using TableFactory = std::function<Kiv::Ptr<Kiv::Entity>(const Kiv::Name&)>;

// The process-wide registry of table types that mounts can create, by type name. Safe to
// use from any thread and from static initialisers.

// Registers `factory` under `typeName`, replacing an earlier one.
void tableFactoryIs(const Kiv::String& typeName, TableFactory factory);
void tableFactoryDel(const Kiv::String& typeName);
// The registered factory, or an empty one when the type name is unknown.
TableFactory tableFactory(const Kiv::String& typeName);

}  // namespace KivShoal

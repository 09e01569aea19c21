#pragma once

#include <string>

namespace Simulator {

// The show dump as an aligned table for people, one row per key and VLAN: uid, the key and
// VLAN, the hardware ids of the default and fragment entries, the shadow state and the next
// hop. Text that is not a dump comes back as it is.
std::string dumpTable(const std::string& dump);

}  // namespace Simulator

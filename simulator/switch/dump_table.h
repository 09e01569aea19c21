#pragma once

#include <nlohmann/json.hpp>
#include <cstdint>
#include <optional>
#include <string>

namespace Simulator {

// The show dump as real JSON, sorted by uid and VLAN: one object per key and VLAN with its
// uid, the key's text, its VLAN (0: any), the hardware indexes of its default and fragment
// entries (one per pipe and copy), whether they are staged (during a warm start, before the
// flash download: in no TCAM slot, which the dump writes as 4294967295, given here as null),
// the shadow's dirty state and next hop. Nothing when the text is not a dump (an error line).
std::optional<nlohmann::ordered_json> dumpRecords(const std::string& dump);

// The same as an aligned table for people, one row per key and VLAN: uid, the key, VLAN, the
// entries' hardware indexes ("staged" for those in no slot), dirty and next hop. Text that is
// not a dump comes back as it is.
std::string dumpTable(const std::string& dump);

enum class DumpFormat : uint8_t { dump, table, json };
// The dump as the agent wrote it, as the table, or as the records' JSON, each ending with a
// newline; text that is not a dump comes back as it is.
std::string dumpText(DumpFormat format, const std::string& dump);

}  // namespace Simulator

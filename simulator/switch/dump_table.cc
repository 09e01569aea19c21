#include "simulator/switch/dump_table.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <sstream>
#include <vector>

namespace Simulator {
namespace {

using Json = nlohmann::ordered_json;

// What the dump writes for an entry that sits in no TCAM slot.
constexpr uint64_t noSlot = 0xFFFFFFFF;
constexpr const char* vlanMark = " vlan: ";

// " 1 2049": a hardware index per pipe and copy, null for one in no slot.
std::optional<Json> indexesOf(const Json& value) {
   if (!value.is_string()) return std::nullopt;
   std::istringstream words(value.get<std::string>());
   Json indexes = Json::array();
   for (uint64_t index; words >> index;) {
      indexes.push_back(index == noSlot ? Json(nullptr) : Json(index));
   }
   if (!words.eof()) return std::nullopt;
   return indexes;
}

bool hasNull(const Json& indexes) {
   return std::any_of(indexes.begin(), indexes.end(), [](const Json& i) { return i.is_null(); });
}

std::string textOf(const Json& value) {
   if (value.is_string()) return value.get<std::string>();
   if (value.is_null()) return "";
   return value.dump();
}

// In a scenario's words: 0 drops, and the largest is no next hop.
std::string nextHopText(const Json& nextHop) {
   if (nextHop == Json(0)) return "drop";
   if (nextHop == Json(UINT64_MAX)) return "none";
   return textOf(nextHop);
}

// The shadow's state in words: hardware as the shadow says, to be programmed, to be removed.
std::string dirtyText(const Json& dirty) {
   if (dirty == Json(0)) return "clean";
   if (dirty == Json(1)) return "dirty";
   if (dirty == Json(2)) return "deleted";
   return textOf(dirty);
}

std::string indexesText(const Json& indexes) {
   std::string text;
   for (const Json& index : indexes) {
      if (!text.empty()) text += ' ';
      text += index.is_null() ? "staged" : index.dump();
   }
   return text;
}

}  // namespace

// The dump is a JSON array but for the comma every record ends with, which goes first.
std::optional<Json> dumpRecords(const std::string& dump) {
   std::string text = dump;
   for (std::size_t at; (at = text.find("},]")) != std::string::npos;) text.erase(at + 1, 1);
   const Json parsed = Json::parse(text, nullptr, false);
   if (!parsed.is_array()) return std::nullopt;
   Json records = Json::array();
   for (const Json& record : parsed) {
      if (!record.is_object() || !record.contains("hwKey") || !record["hwKey"].is_string() ||
          !record.contains("uid") || !record["uid"].is_number_unsigned()) {
         return std::nullopt;
      }
      std::string key = record["hwKey"].get<std::string>();
      uint64_t vlan = 0;
      if (const std::size_t at = key.rfind(vlanMark); at != std::string::npos) {
         const std::string vlanText = key.substr(at + std::string(vlanMark).size());
         if (vlanText != "*") vlan = std::strtoull(vlanText.c_str(), nullptr, 10);
         key.erase(at);
      }
      const std::optional<Json> defaults = indexesOf(record.value("eid0", Json("")));
      const std::optional<Json> fragments = indexesOf(record.value("eid1", Json("")));
      if (!defaults || !fragments) return std::nullopt;
      Json out{{"uid", record["uid"]},   {"key", key},
               {"vlan", vlan},           {"default", *defaults},
               {"fragment", *fragments}, {"staged", hasNull(*defaults) || hasNull(*fragments)}};
      if (record.contains("dirty")) out["dirty"] = record["dirty"];
      if (record.contains("nextHop")) out["nextHop"] = record["nextHop"];
      records.push_back(std::move(out));
   }
   std::stable_sort(records.begin(), records.end(), [](const Json& a, const Json& b) {
      return std::pair(a["uid"].get<uint64_t>(), a["vlan"].get<uint64_t>()) <
             std::pair(b["uid"].get<uint64_t>(), b["vlan"].get<uint64_t>());
   });
   return records;
}

std::string dumpTable(const std::string& dump) {
   const std::optional<Json> records = dumpRecords(dump);
   if (!records) return dump;
   constexpr std::size_t columns = 7;
   using Row = std::array<std::string, columns>;
   std::vector<Row> rows{{"uid", "key", "vlan", "default", "fragment", "dirty", "nextHop"}};
   for (const Json& record : *records) {
      const uint64_t vlan = record["vlan"].get<uint64_t>();
      rows.push_back({record["uid"].dump(), record["key"].get<std::string>(),
                      vlan == 0 ? "*" : std::to_string(vlan), indexesText(record["default"]),
                      indexesText(record["fragment"]), dirtyText(record.value("dirty", Json())),
                      nextHopText(record.value("nextHop", Json()))});
   }
   std::array<std::size_t, columns> width{};
   for (const Row& row : rows) {
      for (std::size_t i = 0; i < columns; ++i) width[i] = std::max(width[i], row[i].size());
   }
   std::string table;
   for (const Row& row : rows) {
      std::string line;
      for (std::size_t i = 0; i < columns; ++i) {
         line += row[i];
         if (i + 1 < columns) line += std::string(width[i] - row[i].size() + 2, ' ');
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      table += line;
      table += '\n';
   }
   return table;
}

std::string dumpText(DumpFormat format, const std::string& dump) {
   switch (format) {
      case DumpFormat::table: return dumpTable(dump);
      case DumpFormat::json:
         if (const std::optional<Json> records = dumpRecords(dump)) return records->dump() + "\n";
         return dump;
      case DumpFormat::dump: break;
   }
   return dump + "\n";
}

}  // namespace Simulator

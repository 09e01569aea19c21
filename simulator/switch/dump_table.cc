#include "simulator/switch/dump_table.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>
#include <vector>

namespace Simulator {
namespace {

constexpr std::size_t columns = 6;
using Row = std::array<std::string, columns>;

std::string textOf(const nlohmann::json& value) {
   if (value.is_string()) return value.get<std::string>();
   if (value.is_null()) return "";
   return value.dump();
}

}  // namespace

// The dump is a JSON array but for the comma every record ends with, which goes first.
std::string dumpTable(const std::string& dump) {
   std::string json = dump;
   for (std::size_t at; (at = json.find("},]")) != std::string::npos;) json.erase(at + 1, 1);
   const nlohmann::json records = nlohmann::json::parse(json, nullptr, false);
   if (!records.is_array()) return dump;

   std::vector<Row> rows{{"uid", "key", "default", "fragment", "dirty", "nextHop"}};
   for (const nlohmann::json& record : records) {
      if (!record.is_object()) return dump;
      const auto field = [&](const char* name) {
         return record.contains(name) ? textOf(record[name]) : std::string();
      };
      std::string eid0 = field("eid0");
      std::string eid1 = field("eid1");
      for (std::string* ids : {&eid0, &eid1}) {
         if (!ids->empty() && ids->front() == ' ') ids->erase(0, 1);
      }
      rows.push_back({field("uid"), field("hwKey"), eid0, eid1, field("dirty"), field("nextHop")});
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

}  // namespace Simulator

#include "simulator/scenario/values.h"

#include <algorithm>
#include <optional>

#include "simulator/scenario/scenario_parser.h"

namespace Simulator::Values {

namespace {

// Enough to recognise a value, short enough to keep a message on one line.
constexpr std::size_t maxShown = 40;

bool plainName(std::string_view name) {
   return !name.empty() && name.size() <= maxShown &&
          std::all_of(name.begin(), name.end(), [](char c) {
             return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_';
          });
}

std::string rangeText(const Range& range) {
   return " (" + std::to_string(range.min) + ".." + std::to_string(range.max) + ")";
}

// A decimal number of at most `maxDigits` digits at `pos`, without a sign, and without a leading
// zero, which other tools read as octal.
std::optional<uint32_t> decimal(std::string_view text, std::size_t& pos, std::size_t maxDigits) {
   const std::size_t start = pos;
   uint32_t number = 0;
   while (pos < text.size() && pos - start < maxDigits && text[pos] >= '0' && text[pos] <= '9') {
      number = number * 10 + static_cast<uint32_t>(text[pos] - '0');
      ++pos;
   }
   if (pos == start || (text[start] == '0' && pos - start > 1)) return std::nullopt;
   return number;
}

std::optional<uint32_t> address(std::string_view text, std::size_t& pos) {
   uint32_t ip = 0;
   for (int octet = 0; octet < 4; ++octet) {
      if (octet > 0) {
         if (pos >= text.size() || text[pos] != '.') return std::nullopt;
         ++pos;
      }
      const std::optional<uint32_t> value = decimal(text, pos, 3);
      if (!value || *value > 255) return std::nullopt;
      ip = ip << 8 | *value;
   }
   return ip;
}

}  // namespace

void fail(const std::string& path, const std::string& message) {
   throw ScenarioError(path + ": " + message);
}

std::string describe(const Json& value) {
   if (value.is_array()) return "a list";
   if (value.is_object()) return "an object";
   std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
   if (text.size() <= maxShown) return text;
   std::size_t cut = maxShown;
   while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
   return text.substr(0, cut) + "...";
}

std::string quotedName(std::string_view name) {
   if (plainName(name)) {
      // Built by appending: GCC 12 at -O3 misreads "'" + std::string as an overlapping copy.
      std::string quoted = "'";
      quoted.append(name);
      quoted += '\'';
      return quoted;
   }
   return describe(Json(std::string(name)));
}

std::string elementPath(const std::string& path, std::size_t index) {
   return path + "[" + std::to_string(index) + "]";
}

Fields::Fields(const Json& value, std::string path, std::initializer_list<std::string_view> known)
    : object_(value), path_(std::move(path)) {
   if (!value.is_object()) {
      fail(path_.empty() ? "scenario" : path_, "expected an object, got " + describe(value));
   }
   for (const auto& [name, item] : value.get_ref<const Json::object_t&>()) {
      if (std::find(known.begin(), known.end(), name) == known.end()) {
         fail(fieldPath(name), "unknown field");
      }
   }
}

std::string Fields::fieldPath(std::string_view name) const {
   if (!plainName(name)) return path_ + "[" + describe(Json(std::string(name))) + "]";
   return path_.empty() ? std::string(name) : path_ + "." + std::string(name);
}

const Json* Fields::field(std::string_view name) const {
   const auto& object = object_.get_ref<const Json::object_t&>();
   const auto found = object.find(std::string(name));
   return found == object.end() ? nullptr : &found->second;
}

const Json& Fields::requiredField(std::string_view name) const {
   const Json* value = field(name);
   if (!value) fail(fieldPath(name), "missing");
   return *value;
}

uint64_t integer(const Json& value, const std::string& path, const Range& range) {
   if (!value.is_number_integer()) fail(path, "expected an integer, got " + describe(value));
   // Signed only when negative, or for "-0".
   const bool negative = !value.is_number_unsigned() && value.get<int64_t>() < 0;
   if (!negative) {
      const uint64_t number = value.is_number_unsigned()
                                  ? value.get<uint64_t>()
                                  : static_cast<uint64_t>(value.get<int64_t>());
      if (number >= range.min && number <= range.max) return number;
   }
   const std::string what = range.noun ? std::string(" is not ") + range.noun : " is out of range";
   fail(path, describe(value) + what + rangeText(range));
}

bool boolean(const Json& value, const std::string& path) {
   if (!value.is_boolean()) fail(path, "expected true or false, got " + describe(value));
   return value.get<bool>();
}

const std::string& string(const Json& value, const std::string& path) {
   if (!value.is_string()) fail(path, "expected a string, got " + describe(value));
   return value.get_ref<const std::string&>();
}

const Json::array_t& list(const Json& value, const std::string& path) {
   if (!value.is_array()) fail(path, "expected a list, got " + describe(value));
   return value.get_ref<const Json::array_t&>();
}

std::size_t choice(const Json& value, const std::string& path, const char* noun,
                   std::initializer_list<std::string_view> names) {
   const std::string& text = string(value, path);
   std::string known;
   for (std::size_t index = 0; index < names.size(); ++index) {
      const std::string_view name = names.begin()[index];
      if (text == name) return index;
      known += (index == 0 ? "" : ", ") + std::string(name);
   }
   fail(path, describe(value) + " is not " + noun + " (" + known + ")");
}

std::vector<uint16_t> ids(const Json& value, const std::string& path, const Range& range) {
   const Json::array_t& items = list(value, path);
   std::vector<uint16_t> result;
   for (std::size_t index = 0; index < items.size(); ++index) {
      const std::string itemPath = elementPath(path, index);
      const auto id = static_cast<uint16_t>(integer(items[index], itemPath, range));
      if (std::find(result.begin(), result.end(), id) != result.end()) {
         fail(itemPath, std::to_string(id) + " is listed twice");
      }
      result.push_back(id);
   }
   return result;
}

std::vector<uint16_t> modules(const Json& value, const std::string& path) {
   std::vector<uint16_t> result = ids(value, path, moduleRange);
   if (result.empty()) fail(path, "empty, needs at least one module");
   return result;
}

std::vector<uint16_t> modulesField(const Fields& fields, const std::vector<uint16_t>& present) {
   const Json* value = fields.field("modules");
   if (!value) return present;
   const std::string path = fields.fieldPath("modules");
   std::vector<uint16_t> result = modules(*value, path);
   for (std::size_t index = 0; index < result.size(); ++index) {
      if (!std::binary_search(present.begin(), present.end(), result[index])) {
         fail(elementPath(path, index),
              "module " + std::to_string(result[index]) + " is not in the switch");
      }
   }
   return result;
}

Endpoint endpoint(const Json& value, const std::string& path) {
   const std::string& text = string(value, path);
   std::size_t pos = 0;
   const std::optional<uint32_t> ip = address(text, pos);
   std::optional<uint32_t> port = 0;
   if (ip && pos < text.size() && text[pos] == ':') port = decimal(text, ++pos, 5);
   if (!ip || !port || *port > 65535 || pos != text.size()) {
      fail(path, describe(value) +
                     " is not an address (a.b.c.d or a.b.c.d:port; octets 0..255, port 0..65535)");
   }
   return Endpoint{*ip, static_cast<uint16_t>(*port)};
}

Prefix prefix(const Json& value, const std::string& path) {
   const std::string& text = string(value, path);
   std::size_t pos = 0;
   const std::optional<uint32_t> ip = address(text, pos);
   std::optional<uint32_t> length;
   if (ip && pos < text.size() && text[pos] == '/') length = decimal(text, ++pos, 2);
   if (!length || *length > 32 || pos != text.size()) {
      fail(path, describe(value) + " is not a prefix (a.b.c.d/len, len 0..32)");
   }
   const uint32_t mask = *length == 0 ? 0 : ~uint32_t{0} << (32 - *length);
   if ((*ip & ~mask) != 0) {
      fail(path, describe(value) + " has host bits set; the prefix is " +
                     endpointText({*ip & mask, 0}) + "/" + std::to_string(*length));
   }
   return Prefix{*ip, static_cast<uint8_t>(*length)};
}

}  // namespace Simulator::Values

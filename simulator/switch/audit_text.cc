#include "simulator/switch/audit_text.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <sstream>
#include <string_view>
#include <stdexcept>
#include <type_traits>

namespace Simulator {
namespace {

static_assert(std::is_trivially_copyable_v<Ember::NatHwKey>, "keys travel as their bytes");

constexpr char hexDigits[] = "0123456789abcdef";

std::string hexOf(const Ember::NatHwKey& key) {
   unsigned char bytes[sizeof key];
   std::memcpy(bytes, &key, sizeof key);
   std::string text;
   for (const unsigned char byte : bytes) {
      text += hexDigits[byte >> 4];
      text += hexDigits[byte & 0xF];
   }
   return text;
}

[[noreturn]] void refuse(std::string_view line) {
   std::string text = "not an audit line: '";
   text.append(line).append(1, '\'');
   throw std::runtime_error(text);
}

Ember::NatHwKey keyOf(std::string_view text, std::string_view line) {
   Ember::NatHwKey key;
   unsigned char bytes[sizeof key];
   if (text.size() != 2 * sizeof key) refuse(line);
   const auto digit = [&](char c) {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      refuse(line);
   };
   for (std::size_t i = 0; i < sizeof key; ++i) {
      bytes[i] = static_cast<unsigned char>(digit(text[2 * i]) << 4 | digit(text[2 * i + 1]));
   }
   std::memcpy(&key, bytes, sizeof key);
   return key;
}

// An audit runs after every step of a soak, over every key: its lines are split in place.
std::vector<std::string_view> fieldsOf(std::string_view line) {
   std::vector<std::string_view> fields;
   for (std::size_t start = 0;;) {
      const std::size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab - start));
      if (tab == std::string_view::npos) return fields;
      start = tab + 1;
   }
}

U64 numberOf(std::string_view text, std::string_view line) {
   U64 value = 0;
   const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
   if (error != std::errc() || end != text.data() + text.size() || text.empty()) refuse(line);
   return value;
}

}  // namespace

std::string auditText(U16 module, const AuditReport& report) {
   std::ostringstream text;
   text << "M\t" << module << '\n';
   for (const Tessel::VerifyDisagreement& d : report.disagreements) {
      text << "D\t" << d.check << '\t' << hexOf(d.key) << '\t' << d.vlanId << '\t' << d.entryId
           << '\t' << d.expected << '\t' << d.read << '\n';
   }
   for (const Ember::NatHwKey& key : report.recordedKeys) text << "K\t" << hexOf(key) << '\n';
   for (const U32 entry : report.recordedEntries) text << "E\t" << entry << '\n';
   for (const U32 entry : report.heldEntries) text << "H\t" << entry << '\n';
   return text.str();
}

std::map<U16, AuditReport> auditReportsOf(const std::string& text) {
   std::map<U16, AuditReport> reports;
   AuditReport* report = nullptr;
   const std::string_view all(text);
   for (std::size_t start = 0; start < all.size();) {
      const std::size_t end = std::min(all.find('\n', start), all.size());
      const std::string_view line = all.substr(start, end - start);
      start = end + 1;
      const std::vector<std::string_view> fields = fieldsOf(line);
      if (fields.size() == 2 && fields[0] == "M") {
         report = &reports[static_cast<U16>(numberOf(fields[1], line))];
      } else if (!report) {
         refuse(line);
      } else if (fields.size() == 2 && fields[0] == "K") {
         report->recordedKeys.push_back(keyOf(fields[1], line));
      } else if (fields.size() == 2 && (fields[0] == "E" || fields[0] == "H")) {
         (fields[0] == "E" ? report->recordedEntries : report->heldEntries)
             .push_back(static_cast<U32>(numberOf(fields[1], line)));
      } else if (fields.size() == 7 && fields[0] == "D") {
         report->disagreements.push_back({std::string(fields[1]), keyOf(fields[2], line),
                                          static_cast<U16>(numberOf(fields[3], line)),
                                          static_cast<U32>(numberOf(fields[4], line)),
                                          numberOf(fields[5], line), numberOf(fields[6], line)});
      } else {
         refuse(line);
      }
   }
   return reports;
}

}  // namespace Simulator

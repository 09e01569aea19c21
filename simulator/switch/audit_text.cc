#include "simulator/switch/audit_text.h"

#include <cstring>
#include <sstream>
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

[[noreturn]] void refuse(const std::string& line) {
   throw std::runtime_error("not an audit line: '" + line + "'");
}

Ember::NatHwKey keyOf(const std::string& text, const std::string& line) {
   Ember::NatHwKey key;
   unsigned char bytes[sizeof key];
   if (text.size() != 2 * sizeof key) refuse(line);
   for (std::size_t i = 0; i < sizeof key; ++i) {
      const char* high = std::strchr(hexDigits, text[2 * i]);
      const char* low = std::strchr(hexDigits, text[2 * i + 1]);
      if (!high || !low || !*high || !*low) refuse(line);
      bytes[i] = static_cast<unsigned char>((high - hexDigits) << 4 | (low - hexDigits));
   }
   std::memcpy(&key, bytes, sizeof key);
   return key;
}

std::vector<std::string> fieldsOf(const std::string& line) {
   std::vector<std::string> fields;
   std::istringstream in(line);
   for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
   return fields;
}

U64 numberOf(const std::string& text, const std::string& line) {
   std::size_t used = 0;
   try {
      const U64 value = std::stoull(text, &used);
      if (used == text.size() && !text.empty() && text[0] != '-') return value;
   } catch (const std::exception&) {
   }
   refuse(line);
}

}  // namespace

std::string auditText(const AuditReport& report) {
   std::ostringstream text;
   for (const Tessel::VerifyDisagreement& d : report.disagreements) {
      text << "D\t" << d.check << '\t' << hexOf(d.key) << '\t' << d.vlanId << '\t' << d.entryId
           << '\t' << d.expected << '\t' << d.read << '\n';
   }
   for (const Ember::NatHwKey& key : report.recordedKeys) text << "K\t" << hexOf(key) << '\n';
   for (const U32 entry : report.recordedEntries) text << "E\t" << entry << '\n';
   for (const U32 entry : report.heldEntries) text << "H\t" << entry << '\n';
   return text.str();
}

AuditReport auditReportOf(const std::string& text) {
   AuditReport report;
   std::istringstream in(text);
   for (std::string line; std::getline(in, line);) {
      const std::vector<std::string> fields = fieldsOf(line);
      if (fields.size() == 2 && fields[0] == "K") {
         report.recordedKeys.push_back(keyOf(fields[1], line));
      } else if (fields.size() == 2 && (fields[0] == "E" || fields[0] == "H")) {
         (fields[0] == "E" ? report.recordedEntries : report.heldEntries)
             .push_back(static_cast<U32>(numberOf(fields[1], line)));
      } else if (fields.size() == 7 && fields[0] == "D") {
         report.disagreements.push_back({fields[1], keyOf(fields[2], line),
                                         static_cast<U16>(numberOf(fields[3], line)),
                                         static_cast<U32>(numberOf(fields[4], line)),
                                         numberOf(fields[5], line), numberOf(fields[6], line)});
      } else {
         refuse(line);
      }
   }
   return report;
}

}  // namespace Simulator

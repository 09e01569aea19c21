#include "simulator/command_line/option_checks.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/framework/trace/trace_handle.h"

namespace Simulator {
namespace {

// Digits only, without a sign and without a leading zero; nothing when it is not one or does
// not fit.
std::optional<uint64_t> decimal(std::string_view text) {
   if (text.empty() || (text[0] == '0' && text.size() > 1)) return std::nullopt;
   uint64_t number = 0;
   for (const char c : text) {
      const auto digit = static_cast<uint64_t>(c - '0');
      if (c < '0' || c > '9' || number > (UINT64_MAX - digit) / 10) return std::nullopt;
      number = number * 10 + digit;
   }
   return number;
}

std::string rangeText(uint64_t min, uint64_t max) {
   return std::to_string(min) + ".." + std::to_string(max);
}

}  // namespace

CLI::Validator decimalIn(uint64_t min, uint64_t max) {
   return CLI::Validator(
       [min, max](std::string& text) -> std::string {
          const bool digits = !text.empty() && (text[0] != '0' || text.size() == 1) &&
                              text.find_first_not_of("0123456789") == std::string::npos;
          if (!digits) {
             return text + " is not a decimal number in " + rangeText(min, max) +
                    " (digits only, no sign or leading zero)";
          }
          const std::optional<uint64_t> number = decimal(text);
          if (!number || *number < min || *number > max) {
             return text + " is out of range (" + rangeText(min, max) + ")";
          }
          return {};
       },
       "UINT in " + rangeText(min, max));
}

TraceLevel traceLevel(const std::string& option, const std::vector<std::string>& facilities) {
   const std::size_t slash = option.rfind('/');
   const std::string where = "--trace " + option + ": ";
   if (slash == std::string::npos || slash == 0 || slash + 1 == option.size() ||
       option.find_first_not_of("0123456789", slash + 1) != std::string::npos) {
      throw OptionError(where + "expected FACILITY/LEVEL");
   }
   TraceLevel trace{option.substr(0, slash), 0};
   bool known = false;
   std::string names;
   for (const std::string& facility : facilities) {
      known = known || facility == trace.facility;
      names += (names.empty() ? "" : ", ") + facility;
   }
   if (!known) {
      throw OptionError(where + trace.facility + " is not a trace facility (" + names + ")");
   }
   const std::string levelText = option.substr(slash + 1);
   const std::optional<uint64_t> level = decimal(levelText);
   if (!level || *level > Kiv::TraceHandle::maxLevel) {
      throw OptionError(where + levelText + " is not a trace level (" +
                        rangeText(0, Kiv::TraceHandle::maxLevel) + ")");
   }
   trace.level = static_cast<uint32_t>(*level);
   return trace;
}

void checkSocketPath(const std::string& path) {
   namespace fs = std::filesystem;
   if (path.empty()) throw OptionError("--serve: needs a path");
   const std::string where = "--serve " + path + ": ";
   std::error_code error;
   const fs::path directory = fs::path(path).parent_path();
   if (!directory.empty() && !fs::is_directory(directory, error)) {
      throw OptionError(where + "no such directory " + directory.string());
   }
   const fs::file_status status = fs::symlink_status(path, error);
   if (error && error != std::errc::no_such_file_or_directory) {
      throw OptionError(where + error.message());
   }
   if (fs::exists(status) && !fs::is_socket(status)) {
      throw OptionError(where + "exists and is not a socket");
   }
}

}  // namespace Simulator

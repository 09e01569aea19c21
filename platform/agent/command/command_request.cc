#include "platform/agent/command/command_request.h"

#include <algorithm>
#include <limits>

namespace Agent {
namespace {

constexpr U32 maxModule = std::numeric_limits<U16>::max();

// Removes and returns the field at the front of `rest` with the spaces after it.
std::string_view nextField(std::string_view& rest) {
   const std::size_t end = std::min(rest.find(' '), rest.size());
   const std::string_view field = rest.substr(0, end);
   rest.remove_prefix(end);
   rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
   return field;
}

[[noreturn]] void refuse(const Kiv::String& text) { throw CommandRequestError(text); }

U16 moduleOf(std::string_view field) {
   if (field.find_first_not_of("0123456789") != std::string_view::npos) {
      refuse("module '" + Kiv::String(field) + "' is not a number");
   }
   // Saturates rather than wraps, so that a long run of digits reads as out of range.
   U32 module = 0;
   for (const char digit : field) {
      module = std::min(module * 10 + static_cast<U32>(digit - '0'), maxModule + 1);
   }
   if (module > maxModule) {
      refuse("module " + Kiv::String(field) + " out of range (0.." + std::to_string(maxModule) +
             ")");
   }
   return static_cast<U16>(module);
}

}  // namespace

Kiv::String CommandRequest::command() const { return std::to_string(module) + " " + text; }

CommandRequest commandRequestOf(std::string_view line) {
   if (line.size() > maxRequestBytes) {
      refuse("request longer than " + std::to_string(maxRequestBytes) + " bytes");
   }
   if (line.find('\0') != std::string_view::npos) refuse("request contains a NUL byte");
   std::string_view rest = line;
   rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
   if (rest.empty()) refuse("empty request");

   CommandRequest request;
   request.commandType = nextField(rest);
   const std::string_view module = nextField(rest);
   if (module.empty()) refuse("no module after command type '" + request.commandType + "'");
   request.module = moduleOf(module);
   request.text = rest;
   return request;
}

}  // namespace Agent

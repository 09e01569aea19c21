// Any bytes as a command request line. Only CommandRequestError may come out, and an accepted
// request must say what the line said, as command_request.h documents it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/agent/command/command_request.h"

namespace {

void require(bool ok) {
   if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
   const std::string_view line(reinterpret_cast<const char*>(data), size);
   Agent::CommandRequest request;
   try {
      request = Agent::commandRequestOf(line);
   } catch (const Agent::CommandRequestError&) {
      return 0;
   }
   require(line.size() <= Agent::maxRequestBytes);
   require(line.find('\0') == std::string_view::npos);
   // The command type is the first field: no spaces in it, none missing from it.
   require(!request.commandType.empty());
   require(request.commandType.find(' ') == std::string::npos);
   const std::size_t typeAt = line.find_first_not_of(' ');
   require(line.substr(typeAt, request.commandType.size() + 1) == request.commandType + " ");
   // The text is the line's tail, verbatim, so it never starts with the separating spaces.
   require(line.ends_with(request.text));
   require(request.text.empty() || request.text.front() != ' ');
   require(request.text.find('\0') == std::string::npos);

   const std::string command = request.command();
   const std::string module = std::to_string(request.module);
   require(command == module + " " + request.text);
   // The module field, read back: decimal digits that name the same number.
   const std::size_t moduleAt = line.find_first_not_of(' ', typeAt + request.commandType.size());
   const std::size_t moduleEnd = std::min(line.find(' ', moduleAt), line.size());
   const std::string_view field = line.substr(moduleAt, moduleEnd - moduleAt);
   require(field.find_first_not_of('0') == std::string_view::npos
               ? request.module == 0
               : field.substr(field.find_first_not_of('0')) == module);
   require(Agent::commandRequestOf(request.commandType + " " + command) == request);
   return 0;
}

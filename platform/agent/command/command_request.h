#pragma once

#include <cstddef>
#include <stdexcept>
#include <string_view>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"

namespace Agent {

// Longest request line the command server accepts, its "\n" not counted.
constexpr std::size_t maxRequestBytes = 4096;

// One request to the command server: "<command type> <module> [<command text>]".
struct CommandRequest {
   Kiv::String commandType;
   U16 module = 0;
   // The rest of the line after the module and the spaces that follow it, verbatim.
   Kiv::String text;

   // What the command type's callback is handed: "<module> <command text>".
   Kiv::String command() const;

   bool operator==(const CommandRequest&) const = default;
};

// A request line the server refuses; what() is the answer's text after "error: ".
class CommandRequestError : public std::runtime_error {
public:
   using std::runtime_error::runtime_error;
};

// Parses one request line, its "\n" removed. Fields are separated by one or more spaces;
// spaces before the command type are skipped. Throws CommandRequestError for an empty line,
// a line longer than maxRequestBytes, a NUL byte, a missing module, a module that is not a
// decimal number or is above 65535. Depends on nothing but `line`.
CommandRequest commandRequestOf(std::string_view line);

}  // namespace Agent

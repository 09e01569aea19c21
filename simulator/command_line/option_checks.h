#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Checks of tessel-nat's options that CLI11 does not make, so that a mistake stops the program
// before the switch is built and the first step runs.
namespace Simulator {

// What is wrong with an option, in one line that starts with the option and its value:
// "--trace ApiTessel/99: level 99 is outside 0..9".
class OptionError : public std::runtime_error {
public:
   using std::runtime_error::runtime_error;
};

// A CLI11 check of a whole number written in decimal, from `min` to `max`. CLI11 would take
// "-1" for 2^64 - 1 and "010" for 8.
CLI::Validator decimalIn(uint64_t min, uint64_t max);

struct TraceLevel {
   std::string facility;
   uint32_t level = 0;
};
// The facility and level of a --trace option, "FACILITY/LEVEL": one of `facilities`, and a
// level the framework has. Throws OptionError.
TraceLevel traceLevel(const std::string& option, const std::vector<std::string>& facilities);

// Throws OptionError unless a command socket can go at `path`: in a directory that exists,
// where nothing is or a socket (a previous server's, which the server replaces).
void checkSocketPath(const std::string& path);

}  // namespace Simulator

// Any bytes as a scenario file: the parser promises to throw nothing but ScenarioError, so
// every other exception escapes and the fuzzer reports it as a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "simulator/scenario/scenario_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
   try {
      Simulator::parseScenario(std::string_view(reinterpret_cast<const char*>(data), size));
   } catch (const Simulator::ScenarioError&) {
   }
   return 0;
}

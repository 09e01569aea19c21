// Checking a scenario file before it runs, at the sizes files reach: one add step per rule,
// up to a rule for every uid.

#include <benchmark/benchmark.h>

#include <string>

#include "simulator/scenario/scenario_parser.h"

namespace {

// `rules` add steps of staticSrcNat rules with distinct sources, so that every one is valid.
std::string addSteps(int64_t rules) {
   std::string text = R"({"modules": [1, 2], "steps": [)";
   for (int64_t i = 0; i < rules; ++i) {
      if (i != 0) text += ",\n";
      text += R"({"add": {"uid": )" + std::to_string(i + 1) +
              R"(, "type": "staticSrcNat", "src": "10.)" + std::to_string(i >> 16 & 0xFF) + "." +
              std::to_string(i >> 8 & 0xFF) + "." + std::to_string(i & 0xFF) +
              R"(", "srcNew": "192.0.2.1"}})";
   }
   return text + "]}";
}

void BM_ScenarioCheckAdds(benchmark::State& state) {
   const std::string text = addSteps(state.range(0));
   for (auto _ : state) benchmark::DoNotOptimize(Simulator::parseScenario(text));
   state.counters["steps"] = static_cast<double>(state.range(0));
   state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ScenarioCheckAdds)->Arg(1024)->Arg(16384)->Arg(65535)->Unit(benchmark::kMillisecond);

}  // namespace

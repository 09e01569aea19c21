// The simulator's generate step end to end: the control plane publishes each rule and reads
// every answer, the agent commits them onto the chip, in batches as the program runs it.

#include <benchmark/benchmark.h>

#include <sstream>

#include "bench/bench_switch.h"
#include "simulator/switch/scenario_runner.h"

namespace {

void BM_GenerateEndToEnd(benchmark::State& state) {
   const auto rules = static_cast<U32>(state.range(0));
   Simulator::Scenario scenario;
   scenario.chip.natEntries = rules * 8;
   Simulator::Generate generate;
   generate.rules = rules;
   generate.modules = {1};
   for (U32 uid = 1; uid <= rules; ++uid) generate.uids.push_back(static_cast<uint16_t>(uid));
   scenario.steps.push_back({"steps[0]", generate});
   const Kiv::ActivityGuard framework(Kiv::activityLock());
   for (auto _ : state) {
      std::ostringstream events;
      Simulator::ScenarioRunner runner(scenario, events, {});
      Bench::timed(state, [&] { runner.doRun(); });
   }
   state.counters["rules_per_second"] =
       benchmark::Counter(static_cast<double>(rules) * static_cast<double>(state.iterations()),
                          benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GenerateEndToEnd)
    ->Arg(1024)
    ->Arg(16384)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

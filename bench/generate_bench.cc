// The simulator's generate step end to end, on the switch as the program runs it: the control
// plane publishes each rule and reads every answer while the agent, a process of its own,
// commits them onto the chip. The step's own timing is the figure, as `run --timing` reports
// it: the summary after the step is not the generate.

#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

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
      Simulator::ScenarioRunner runner(scenario, events,
                                       {.format = Simulator::EventWriter::Format::json,
                                        .agentProgram = TESSEL_NAT_PROGRAM,
                                        .timing = true});
      runner.doRun();
      bool reported = false;
      std::istringstream lines(events.str());
      for (std::string line; std::getline(lines, line);) {
         const nlohmann::json event = nlohmann::json::parse(line);
         if (event.value("event", "") != "generated") continue;
         state.SetIterationTime(event.at("seconds").get<double>());
         reported = true;
      }
      // Without the step's own time the iteration would count as taking none.
      if (!reported) {
         state.SkipWithError("the generate step reported no time");
         break;
      }
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

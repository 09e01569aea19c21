// One module's programmer at scale: the per-rule cost of adding and of removing N static
// destination NAPT rules, each a key on one VLAN, with every rule live at once (more than an
// agent's status directory could answer, so the programmer is driven directly).

#include <benchmark/benchmark.h>

#include "bench/bench_switch.h"
#include "bench/loaded_programmer.h"

namespace {

// The 1024 rules take a millisecond or less: they run ten times as often as the 65535, so
// that the ratio of the two measures the programmer rather than the host's noise.
void BM_ProgrammerAdd(benchmark::State& state) {
   const auto rules = static_cast<U32>(state.range(0));
   for (auto _ : state) {
      Bench::LoadedProgrammer loaded(rules);
      Bench::timed(state, [&] { loaded.commitAll(); });
   }
}
BENCHMARK(BM_ProgrammerAdd)
    ->Arg(1024)
    ->UseManualTime()
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgrammerAdd)
    ->Arg(65535)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

void BM_ProgrammerDelete(benchmark::State& state) {
   const auto rules = static_cast<U32>(state.range(0));
   for (auto _ : state) {
      Bench::LoadedProgrammer loaded(rules);
      loaded.commitAll();
      loaded.removalsPublish();
      Bench::timed(state, [&] { loaded.commitAll(); });
   }
}
BENCHMARK(BM_ProgrammerDelete)
    ->Arg(1024)
    ->UseManualTime()
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgrammerDelete)
    ->Arg(65535)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

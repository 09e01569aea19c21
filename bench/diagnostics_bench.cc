// The show dump and verification of a module with many programmed keys, and the root's
// commit pass over requests that are all answered already.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>

#include "bench/bench_switch.h"

namespace {

using Bench::BenchSwitch;

// A switch with `rules` rules committed and answered.
std::unique_ptr<BenchSwitch> programmed(U32 rules) {
   auto bench = std::make_unique<BenchSwitch>(rules);
   bench->publish();
   bench->simulated().doSettle();
   return bench;
}

void BM_ShowPerKey(benchmark::State& state) {
   const auto bench = programmed(static_cast<U32>(state.range(0)));
   const auto programmer = bench->simulated().programmer(Bench::benchModule);
   std::FILE* file = std::tmpfile();
   const int fd = fileno(file);
   off_t bytes = 0;
   for (auto _ : state) {
      lseek(fd, 0, SEEK_SET);
      Bench::timed(state, [&] {
         programmer->doShow(static_cast<U32>(fd), TesselCentral::ModId(Bench::benchModule));
      });
      bytes = lseek(fd, 0, SEEK_CUR);
   }
   std::fclose(file);
   state.counters["keys"] = programmer->entryIdTables();
   state.counters["dump_bytes"] = static_cast<double>(bytes);
   state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_ShowPerKey)
    ->Arg(1024)
    ->Arg(16384)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

void BM_VerifyPerKey(benchmark::State& state) {
   const auto bench = programmed(static_cast<U32>(state.range(0)));
   const auto programmer = bench->simulated().programmer(Bench::benchModule);
   for (auto _ : state) Bench::timed(state, [&] { programmer->doVerify(); });
   state.counters["keys"] = programmer->entryIdTables();
}
// A verification of 1024 keys takes about a millisecond: a few runs of it measure the host's
// noise, so each size runs for a while.
BENCHMARK(BM_VerifyPerKey)
    ->Arg(1024)
    ->Arg(16384)
    ->UseManualTime()
    ->MinTime(1)
    ->Unit(benchmark::kMillisecond);

// The commit pass when every request already has its answer: nothing to commit.
void BM_CommitPassAnswered(benchmark::State& state) {
   const auto bench = programmed(static_cast<U32>(state.range(0)));
   const auto root = bench->simulated().rootSm();
   for (auto _ : state) Bench::timed(state, [&] { root->handleMountGroupReady(); });
   state.counters["requests"] = static_cast<double>(bench->rules().size());
}
BENCHMARK(BM_CommitPassAnswered)
    ->Arg(16384)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

// One shared-table lookup per request, the unit the commit pass is measured in.
void BM_SharedTableLookups(benchmark::State& state) {
   const auto bench = programmed(static_cast<U32>(state.range(0)));
   const auto statusDir = bench->simulated().programmer(Bench::benchModule)->quillShoalStatusDir();
   for (auto _ : state) {
      Bench::timed(state, [&] {
         bool found = false;
         for (const Simulator::Rule& rule : bench->rules()) {
            benchmark::DoNotOptimize(statusDir->safeLookup(Quill::QuillShoalKey(rule.uid), found));
         }
      });
   }
}
BENCHMARK(BM_SharedTableLookups)
    ->Arg(16384)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

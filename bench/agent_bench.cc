// The agent at scale: committing, deleting and warm-starting generated rule sets through the
// whole agent, against the same SDK calls made without it.

#include <benchmark/benchmark.h>

#include <chrono>

#include "bench/bench_switch.h"
#include "bench/sdk_recorder.h"

namespace {

using Bench::BenchSwitch;

// First commit of N new rules, all published before the agent runs: the time the agent takes
// to react to N translation requests.
void BM_AgentCommit(benchmark::State& state) {
   const auto rules = static_cast<U32>(state.range(0));
   for (auto _ : state) {
      BenchSwitch bench(rules);
      bench.publish();
      Bench::timed(state, [&] { bench.runAgent(); });
   }
   state.counters["rules"] = rules;
}
BENCHMARK(BM_AgentCommit)
    ->Arg(16384)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// The same rules delivered one at a time: each published and committed before the next.
void BM_AgentCommitOneAtATime(benchmark::State& state) {
   const auto rules = static_cast<U32>(state.range(0));
   for (auto _ : state) {
      BenchSwitch bench(rules);
      std::chrono::steady_clock::duration committing{};
      for (const Simulator::Rule& rule : bench.rules()) {
         bench.publish(rule);
         const auto start = std::chrono::steady_clock::now();
         bench.runAgent();
         committing += std::chrono::steady_clock::now() - start;
      }
      state.SetIterationTime(std::chrono::duration<double>(committing).count());
   }
}
BENCHMARK(BM_AgentCommitOneAtATime)
    ->Arg(1024)
    ->Arg(16384)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// Records the SDK calls of the agent's commit of N rules once, then times `replay` of them
// onto a fresh chip in each iteration.
template <class Replay>
void timedReplays(benchmark::State& state, Replay&& replay) {
   const auto rules = static_cast<U32>(state.range(0));
   BenchSwitch recorded(rules);
   Bench::SdkRecorder recorder(recorded.simulated().chip());
   {
      const Shim::ScopedBackend recording(recorder);
      recorded.publish();
      recorded.runAgent();
   }
   for (auto _ : state) {
      Chip::SimulatedChip chip(Chip::SimulatedChip::Config{.tcamSlotsPerUnit = rules * 8});
      Bench::unitBuild(chip, Bench::benchModule);
      Bench::timed(state, [&] { replay(recorder, chip); });
   }
   state.counters["calls"] = static_cast<double>(recorder.calls());
}

// The SDK calls of that commit made again with nothing of the agent around them.
void BM_SdkReplay(benchmark::State& state) {
   timedReplays(state, [](const Bench::SdkRecorder& recorder, Chip::SimulatedChip& chip) {
      recorder.doReplay(chip);
   });
}
BENCHMARK(BM_SdkReplay)->Arg(16384)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The same calls made as the plug-in makes them: the lock given up and taken back around each,
// its result judged and traced.
void BM_SdkReplayThroughCalls(benchmark::State& state) {
   timedReplays(state, [](const Bench::SdkRecorder& recorder, Chip::SimulatedChip& chip) {
      recorder.doReplayThroughCalls(chip);
   });
}
BENCHMARK(BM_SdkReplayThroughCalls)
    ->Arg(1024)
    ->Arg(16384)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// The hitless commit pass over N clean rules after a warm restart: the agent starts, mounts,
// and answers every request again on staged entries.
void BM_WarmStart(benchmark::State& state) {
   const auto rules = static_cast<U32>(state.range(0));
   for (auto _ : state) {
      BenchSwitch bench(rules);
      bench.publish();
      bench.simulated().doSettle();
      bench.simulated().doAgentStop(true);
      Bench::timed(state, [&] { bench.simulated().doAgentStart(true); });
   }
}
BENCHMARK(BM_WarmStart)
    ->Arg(4096)
    ->Arg(16384)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// The TCAM flash download that ends a warm restart: the staged entries of N rules replace the
// previous run's on the chip.
void BM_FlashDownload(benchmark::State& state) {
   const auto rules = static_cast<U32>(state.range(0));
   for (auto _ : state) {
      BenchSwitch bench(rules);
      bench.publish();
      bench.simulated().doSettle();
      bench.simulated().doRestart(true);
      Bench::timed(state, [&] { bench.simulated().doFlashDownload(); });
   }
}
BENCHMARK(BM_FlashDownload)
    ->Arg(4096)
    ->Arg(16384)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// The same N rules installed by a cold start, for comparison.
void BM_ColdStart(benchmark::State& state) {
   const auto rules = static_cast<U32>(state.range(0));
   for (auto _ : state) {
      BenchSwitch bench(rules);
      bench.publish();
      bench.simulated().doSettle();
      bench.simulated().doAgentStop(false);
      Bench::timed(state, [&] { bench.simulated().doAgentStart(false); });
   }
}
BENCHMARK(BM_ColdStart)->Arg(16384)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Commits that find the TCAM full, against as many that succeed: the TCAM holds 1024 rules'
// entries and 1024 more rules are published; the first half fails.
void BM_CommitTcamFull(benchmark::State& state) {
   const bool full = state.range(0) != 0;
   constexpr U32 rules = 1024;
   for (auto _ : state) {
      BenchSwitch filler(2 * rules, 4);
      Simulator::SimulatedSwitch& simulated = filler.simulated();
      const std::vector<Simulator::Rule>& all = filler.rules();
      // Fill (or half fill) the TCAM with the second half, then time the first half.
      for (U32 i = rules; i < 2 * rules; ++i) {
         simulated.controlPlane().ruleIs(Simulator::natRuleOf(all[i]));
      }
      simulated.doSettle();
      const U32 entries = simulated.config().natEntries;
      const auto held = static_cast<U32>(simulated.natEntryManager()->entriesHeld(1).size());
      // Fill what is left with the other user's entries when the TCAM must be full.
      if (full) {
         for (U32 i = held; i < entries; ++i) simulated.natEntryManager()->getEntry(1, "filler");
      }
      for (U32 i = 0; i < rules; ++i) simulated.controlPlane().ruleIs(Simulator::natRuleOf(all[i]));
      Bench::timed(state, [&] { filler.runAgent(); });
   }
}
BENCHMARK(BM_CommitTcamFull)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

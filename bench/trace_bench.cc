#include <benchmark/benchmark.h>

#include "platform/framework/kiv/string.h"
#include "platform/framework/trace/ring_trace.h"
#include "platform/framework/trace/trace.h"
#include "platform/framework/trace/trace_sink.h"

namespace {

// Takes every message and does nothing, so the enabled case measures the trace path alone.
class NullTraceSink : public Kiv::TraceSink {
public:
   void write(const Kiv::TraceMessage& message) override { benchmark::DoNotOptimize(&message); }
};

void BM_TraceDisabledLevel(benchmark::State& state) {
   Kiv::TraceHandle& handle = Kiv::traceHandle("TraceBench.Disabled");
   handle.allLevelsIs(false);
   int entry = 0;
   for (auto _ : state) {
      KIV_TRACE(handle, 5, Kiv::format("freeing entry %d", entry));
      benchmark::DoNotOptimize(++entry);
   }
}
BENCHMARK(BM_TraceDisabledLevel);

void BM_TraceEnabledToNullSink(benchmark::State& state) {
   Kiv::TraceHandle& handle = Kiv::traceHandle("TraceBench.Enabled");
   handle.allLevelsIs(true);
   NullTraceSink sink;
   Kiv::TraceSink* previous = Kiv::traceSinkIs(&sink);
   int entry = 0;
   for (auto _ : state) {
      KIV_TRACE(handle, 5, Kiv::format("freeing entry %d", entry));
      benchmark::DoNotOptimize(++entry);
   }
   Kiv::traceSinkIs(previous);
}
BENCHMARK(BM_TraceEnabledToNullSink);

void BM_RingTraceRecord(benchmark::State& state) {
   const Kiv::String keyText = "<vrf: default, ip: 10.0.0.1, port: 8080>";
   U32 entryId = 0;
   for (auto _ : state) {
      KIV_RING_TRACE("SPSm:: freeing entry {} for key {}", entryId, keyText);
      benchmark::DoNotOptimize(++entryId);
   }
}
BENCHMARK(BM_RingTraceRecord);

}  // namespace

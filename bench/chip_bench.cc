#include <benchmark/benchmark.h>

#include "platform/switch/chip/simulated_chip.h"

namespace {

constexpr S32 unit = 0;

// A unit whose first `entries` slots hold installed NAT-like entries (source address, port and
// protocol), each for its own source address.
class LoadedChip {
public:
   explicit LoadedChip(U32 entries) : chip_(Chip::SimulatedChip::Config{1, 4096}) {
      for (U32 slot = 0; slot < entries; ++slot) {
         const U32 entry = slot + 1;
         chip_.bcm_field_entry_create_at(unit, 12, entry, slot);
         chip_.bcm_field_qualify_SrcIp(unit, entry, sourceOf(slot), 0xFFFFFFFF);
         chip_.bcm_field_qualify_L4SrcPort(unit, entry, 1000, 0xFFFFFFFF);
         chip_.bcm_field_qualify_IpProtocol(unit, entry, 17, 0xFF);
         chip_.bcm_field_entry_install(unit, entry);
      }
   }

   static U32 sourceOf(U32 slot) { return 0x0A000000 + slot; }
   Chip::SimulatedChip& chip() { return chip_; }

private:
   Chip::SimulatedChip chip_;
};

Chip::Packet packetFrom(U32 srcIp) {
   return Chip::Packet{
       .srcIp = srcIp, .dstIp = 0x08080808, .srcPort = 1000, .dstPort = 53, .ipProtocol = 17};
}

// Worst case: the packet hits the last installed entry, so every row is looked at.
void BM_ClassifyHitsLastEntry(benchmark::State& state) {
   const U32 entries = static_cast<U32>(state.range(0));
   LoadedChip loaded(entries);
   const Chip::Packet packet = packetFrom(LoadedChip::sourceOf(entries - 1));
   for (auto _ : state) benchmark::DoNotOptimize(loaded.chip().classify(unit, packet));
   state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ClassifyHitsLastEntry)->Arg(256)->Arg(1024)->Arg(4096);

// The verification path: one qualifier read per entry, which must not grow with the table.
void BM_QualifierRead(benchmark::State& state) {
   const U32 entries = static_cast<U32>(state.range(0));
   LoadedChip loaded(entries);
   U32 entry = 0;
   for (auto _ : state) {
      U32 data = 0;
      U32 mask = 0;
      entry = entry % entries + 1;
      benchmark::DoNotOptimize(
          loaded.chip().bcm_field_qualify_SrcIp_get(unit, entry, &data, &mask));
   }
}
BENCHMARK(BM_QualifierRead)->Arg(256)->Arg(4096);

// The SDK's write path alone, on a unit whose memory is in use already: one qualifier of an
// entry rewritten and the entry installed again, entry after entry.
void BM_EntryRewrite(benchmark::State& state) {
   const U32 entries = static_cast<U32>(state.range(0));
   LoadedChip loaded(entries);
   U32 entry = 0;
   U32 destination = 0;
   for (auto _ : state) {
      entry = entry % entries + 1;
      benchmark::DoNotOptimize(
          loaded.chip().bcm_field_qualify_DstIp(unit, entry, ++destination, 0xFFFFFFFF));
      benchmark::DoNotOptimize(loaded.chip().bcm_field_entry_reinstall(unit, entry));
   }
}
BENCHMARK(BM_EntryRewrite)->Arg(4096);

}  // namespace

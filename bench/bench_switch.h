#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "platform/framework/kiv/activity_lock.h"
#include "platform/framework/kiv/event_loop.h"
#include "simulator/switch/rule_conversion.h"
#include "simulator/switch/rule_generator.h"
#include "simulator/switch/simulated_switch.h"

namespace Bench {

// The module, and the chip unit, that every benchmark's rules name.
inline constexpr U16 benchModule = 1;

// A whole switch with one module and room for `rules` generated rules: the simulator's mix
// of all six types, destination rules on 1 to 4 VLANs. Rules are published without running
// the agent, so that what the agent then does can be timed alone.
class BenchSwitch {
public:
   explicit BenchSwitch(U32 rules, U32 natEntriesPerRule = 8, uint64_t seed = 1)
       : rules_(generated(rules, seed)),
         switch_(std::make_unique<Simulator::SimulatedSwitch>(
             Simulator::SimulatedSwitch::Config{.natEntries = rules * natEntriesPerRule})) {}
   ~BenchSwitch() {
      switch_.reset();
      Kiv::eventLoop().workDelAll();
   }

   void publish() {
      for (const Simulator::Rule& rule : rules_) publish(rule);
   }
   void publish(const Simulator::Rule& rule) {
      switch_->controlPlane().ruleIs(Simulator::natRuleOf(rule));
   }
   void publishRemovals() {
      for (const Simulator::Rule& rule : rules_) {
         switch_->controlPlane().ruleRemovalIs(TesselNat::Uid(rule.uid));
      }
   }
   // Runs the agent on what was published: the commits, and nothing of the control plane.
   void runAgent() { Kiv::eventLoop().doRunUntilIdle(); }

   Simulator::SimulatedSwitch& simulated() { return *switch_; }
   const std::vector<Simulator::Rule>& rules() const { return rules_; }

private:
   static std::vector<Simulator::Rule> generated(U32 rules, uint64_t seed) {
      Simulator::Generate generate;
      generate.seed = seed;
      generate.modules = {benchModule};
      for (U32 uid = 1; uid <= rules; ++uid) generate.uids.push_back(static_cast<uint16_t>(uid));
      return Simulator::generatedRules(generate);
   }

   Kiv::ActivityGuard framework_{Kiv::activityLock()};
   std::vector<Simulator::Rule> rules_;
   std::unique_ptr<Simulator::SimulatedSwitch> switch_;
};

// Times `body` into the benchmark's manual clock.
template <class F>
void timed(benchmark::State& state, F&& body) {
   const auto start = std::chrono::steady_clock::now();
   body();
   state.SetIterationTime(
       std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace Bench

#pragma once

#include <iosfwd>
#include <map>
#include <memory>

#include "simulator/scenario/scenario.h"
#include "simulator/switch/simulated_switch.h"

namespace Simulator {

// Runs a checked scenario against a simulated switch and reports each step on `out`: what
// the control plane asked and how the modules answered, the show dump, verification, and
// which entry a packet hits with the translation that follows.
class ScenarioRunner {
public:
   struct Options {
      // Serve agent commands on this socket while the scenario runs (empty: no socket).
      std::string socketPath;
      // Draw generate's progress bar on this stream (null: none).
      std::ostream* progress = nullptr;
   };

   // Builds the switch the scenario describes, with the agent started cold.
   ScenarioRunner(const Scenario& scenario, std::ostream& out, Options options);
   ~ScenarioRunner();

   // Runs every step. Returns the exit status: 0, or 1 when a verification found a
   // disagreement or a packet expected to be translated was not.
   int doRun();

   SimulatedSwitch& simulatedSwitch() { return *switch_; }
   // The rules as last published, by uid.
   const std::map<uint16_t, Rule>& rules() const { return rules_; }

private:
   void doStep(const Step& step);
   void doPublish(const Rule& rule);
   void doGenerate(const Generate& generate);
   void reportAnswer(uint16_t uid);
   void reportShow(uint16_t module);
   void reportVerify(uint16_t module);
   void reportPacket(const Packet& packet);

   const Scenario& scenario_;
   std::ostream& out_;
   Options options_;
   std::unique_ptr<SimulatedSwitch> switch_;
   std::map<uint16_t, Rule> rules_;
   int status_ = 0;
};

}  // namespace Simulator

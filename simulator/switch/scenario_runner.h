#pragma once

#include <iosfwd>
#include <map>
#include <memory>

#include "simulator/scenario/scenario.h"
#include "simulator/switch/event_writer.h"
#include "simulator/switch/simulated_switch.h"

namespace Simulator {

// Runs a checked scenario against a simulated switch and writes its events: each module's
// answers, the show dump as the command socket returns it, verification, which entry a packet
// hits and the translation that follows, and a summary at the end.
class ScenarioRunner {
public:
   struct Options {
      EventWriter::Format format = EventWriter::Format::text;
      // Serves agent commands while the scenario runs and after (null: no socket).
      std::unique_ptr<Agent::CommandServer> commandServer{};
      // Draw generate's progress bar on this stream (null: none).
      std::ostream* progress = nullptr;
   };

   // Builds the switch the scenario describes, with the agent started cold.
   ScenarioRunner(const Scenario& scenario, std::ostream& out, Options options);
   ~ScenarioRunner();

   // Runs every step and writes the summary. Returns the exit status: 0, or 1 when a
   // verification found a disagreement.
   int doRun();

   SimulatedSwitch& simulatedSwitch() { return *switch_; }

private:
   void doStep(const Step& step);
   void doPublish(const Rule& rule);
   void doGenerate(const Generate& generate);
   // Each module's answer to the uid's current request.
   void reportAnswers(uint16_t uid, const std::vector<uint16_t>& modules);
   void reportShow(uint16_t module);
   void reportVerify(uint16_t module);
   void reportPacket(const Packet& packet);
   void reportSummary();

   const Scenario& scenario_;
   EventWriter events_;
   Options options_;
   std::unique_ptr<SimulatedSwitch> switch_;
   std::map<uint16_t, Rule> rules_;
   std::size_t answered_[3] = {0, 0, 0};  // by result
   int status_ = 0;
};

}  // namespace Simulator

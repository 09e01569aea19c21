#pragma once

#include <csignal>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "simulator/scenario/scenario.h"
#include "simulator/switch/event_writer.h"
#include "simulator/switch/held_rules.h"
#include "simulator/switch/session_table.h"
#include "simulator/switch/simulated_switch.h"
#include "simulator/switch/traffic_source.h"

namespace Simulator {

// Runs a checked scenario against a simulated switch and writes its events: each module's
// answers, the show dump as the command socket returns it, verification, which entry a packet
// hits and the translation that follows, and a summary at the end.
class ScenarioRunner {
public:
   struct Options {
      EventWriter::Format format = EventWriter::Format::text;
      // The program whose "agent" command runs the agent process (empty: the agent runs in
      // this process), where that process serves its commands (empty: a path of the
      // switch's own) and its further arguments.
      std::string agentProgram{};
      std::string commandSocket{};
      std::vector<std::string> agentArguments{};
      // Set (by a signal handler) when the run must stop: the steps end early, and the run
      // fails.
      const volatile std::sig_atomic_t* stop = nullptr;
      // Draw generate's progress bar on this stream (null: none).
      std::ostream* progress = nullptr;
      // Report wall-clock figures (how long a generate took); without them two runs of a
      // file report the same.
      bool timing = false;
   };

   // Builds the switch the scenario describes, with the agent started cold.
   ScenarioRunner(const Scenario& scenario, std::ostream& out, Options options);
   ~ScenarioRunner();

   // Runs every step and writes the summary. Returns the exit status: 0; 1 when a
   // verification found a disagreement or a request went unanswered (a module did not
   // answer, or its status directory refused the answer); else 5 when a diff found the chip
   // short of the intended state or holding more.
   int doRun();

   SimulatedSwitch& simulatedSwitch() { return *switch_; }

private:
   void doStep(const Step& step);
   void doPublish(const Rule& rule);
   void doGenerate(const Generate& generate);
   // False, with a note, while the agent is down.
   bool agentAnswers();
   // False, with a note, for a uid the control plane refused.
   bool live(uint16_t uid);
   // Each module's answer to the uid's current request, counted and written.
   void reportAnswers(uint16_t uid, const std::vector<uint16_t>& modules);
   // The same, counted only when `events` is null.
   void tallyAnswers(uint16_t uid, const std::vector<uint16_t>& modules,
                     EventWriter* events = nullptr);
   void reportLostAnswers();
   // Each crash since the last step, and what it cost the flows.
   void reportCrashes();
   void reportShow(const Show& show);
   void reportVerify(uint16_t module);
   void reportPacket(const Packet& packet);
   // Why a packet hit nothing: the entries it came nearest to.
   void reportNearMisses(uint16_t module, const ::Chip::Packet& packet);
   // A packet that hit nothing goes to the CPU, where it may open a dynamic NAT session.
   void doPunt(const Packet& packet);
   // Counts each session's hits; one idle for its pool's idle steps is withdrawn.
   void doAgeSessions();
   void reportSessions();
   // Takes the flows' counts since the last step, and writes them when the step `owed` the
   // flows their outcome.
   void reportTraffic(bool owed);
   // What the switch holds of the rules, read again when a step or an answer may have changed
   // it.
   HeldRules& heldRules();
   void reportRules();
   void reportDiff();
   void reportStaged();
   void reportExpectedHits(const ExpectHits& expect);
   void reportSummary();

   const Scenario& scenario_;
   EventWriter events_;
   Options options_;
   std::unique_ptr<SimulatedSwitch> switch_;
   // Sends against switch_'s chip, so it goes first.
   std::unique_ptr<TrafficSource> traffic_;
   std::vector<Packet> trafficFlows_;
   std::map<uint16_t, Rule> rules_;
   // Rules the control plane refused, and why, until their uid is published or deleted.
   struct Refused {
      Rule rule;
      std::string reason;
   };
   std::map<uint16_t, Refused> refused_;
   SessionTable sessions_;
   std::size_t stepsRun_ = 0;
   std::unique_ptr<HeldRules> heldRules_;
   std::pair<std::size_t, U64> heldRulesAt_{};
   EventWriter::Requests requests_;
   // Per module, the status directory last seen and the answers it had refused then.
   struct LostSeen {
      const void* table = nullptr;
      U32 reports = 0;
   };
   std::map<uint16_t, LostSeen> lostSeen_;
   std::size_t crashesSeen_ = 0;
   int status_ = 0;
   bool differs_ = false;
};

}  // namespace Simulator

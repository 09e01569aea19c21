#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "simulator/scenario/scenario.h"
#include "simulator/switch/simulated_switch.h"

namespace Simulator {

// A check of the churn soak that failed, with what was seen.
struct SoakBroken {
   std::string what;
};

// What the packets of the soak's rules meet on the chip, and what they met at the last warm
// restart of a settled switch, which they must go on meeting until the flash download. The
// checks throw SoakBroken.
class SoakHits {
public:
   // A packet built for a rule on one module, and the uid of the entry it hit (0: none).
   struct Seen {
      uint16_t uid;
      uint16_t module;
      Packet packet;
      uint32_t hitUid;
   };

   SoakHits(SimulatedSwitch& simulated, const std::map<uint16_t, Rule>& rules)
       : switch_(simulated), rules_(rules) {}

   // What the packets of every rule no module failed hit now, on every module in the switch
   // that the rule names and every VLAN of it.
   std::vector<Seen> now() const;

   // A warm restart from `seen`, with the modules in the switch now and no rule changed yet.
   void restartFrom(std::vector<Seen> seen);
   // After a crash in the flash download: some units may hold the dead agent's entries, so
   // the next agent starts from what the packets meet now; the rules changed stay changed.
   void restartFromNow();
   void changedIs(uint16_t uid) {
      changed_.insert(uid);
      changedInStep_.insert(uid);
   }
   // The flash download is done: the next restart starts afresh.
   void changesDel() { changed_.clear(); }
   // The module left with its chip: what it held is gone for good.
   void moduleGone(uint16_t module) { modules_.erase(module); }

   // Each packet that hit a rule in `before` hits it still, unless its rule, or the rule it
   // hit, changed or failed since, or a rule changed since now sits before it, or its module
   // came after the restart (its entries wait for the flash download).
   void expectSame(const std::vector<Seen>& before, const char* when) const;
   void expectSameAsAtRestart(const char* when) const { expectSame(atRestart_, when); }

   // A step begins: the packets go on meeting what they meet now while the agent works,
   // unless their rule or the rule they hit changes in the step.
   void stepBegins();
   // A look while the agent works: the next `packets` packets of the step's start, and while
   // `warm` (a warm restart waits for its flash download) of the restart's, each checked as
   // expectSame() checks, taken in turn so that every flow is sent over a few looks.
   void expectSteady(std::size_t packets, bool warm);
   // A packet of a rule hits the rule, or the host rule of a flow rule when that sits first.
   void expectEveryRuleHit() const;

private:
   // Whether `seen`'s packet may hit another uid now, given the rules changed since.
   bool exempt(const Seen& seen, const std::set<uint16_t>& changed,
               const std::set<uint16_t>& modules) const;
   // Throws unless the packet of `seen` hits what it hit, or a rule in `changed`.
   void expectHitAgain(const Seen& seen, const std::set<uint16_t>& changed,
                       const char* when) const;
   // Checks `packets` packets of `before` from `next` on, and moves `next` past them.
   void expectSteadySince(const std::vector<Seen>& before, std::size_t& next,
                          std::size_t packets, const std::set<uint16_t>& changed,
                          const std::set<uint16_t>& modules, const char* when) const;
   uint32_t uidHit(uint16_t module, const Packet& packet) const;
   bool failed(uint16_t uid) const;

   SimulatedSwitch& switch_;
   const std::map<uint16_t, Rule>& rules_;
   std::vector<Seen> atRestart_;
   std::set<uint16_t> changed_;   // uids published or deleted since the restart
   std::set<uint16_t> modules_;   // in the switch since then
   std::vector<Seen> atStep_;
   std::set<uint16_t> changedInStep_;
   std::size_t nextOfStep_ = 0;     // the next packet of atStep_ a look sends
   std::size_t nextOfRestart_ = 0;  // and of atRestart_
};

}  // namespace Simulator

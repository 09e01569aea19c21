#include "simulator/switch/soak_hits.h"

#include <algorithm>

#include "platform/switch/sdk/sdk.h"
#include "simulator/switch/rule_conversion.h"
#include "simulator/switch/soak_rules.h"

namespace Simulator {

std::vector<SoakHits::Seen> SoakHits::now() const {
   std::vector<Seen> seen;
   for (const auto& [uid, rule] : rules_) {
      if (failed(uid)) continue;
      const std::vector<uint16_t> vlans =
          rule.vlans.empty() ? std::vector<uint16_t>{7} : rule.vlans;
      for (uint16_t module : rule.modules) {
         if (!switch_.modules().contains(module)) continue;
         for (uint16_t vlan : vlans) {
            const Packet packet = packetFor(rule, module, vlan);
            seen.push_back({uid, module, packet, uidHit(module, packet)});
         }
      }
   }
   return seen;
}

void SoakHits::restartFrom(std::vector<Seen> seen) {
   atRestart_ = std::move(seen);
   changed_.clear();
   modules_ = switch_.modules();
}

void SoakHits::restartFromNow() {
   atRestart_ = now();
   modules_ = switch_.modules();
}

void SoakHits::expectSame(const std::vector<Seen>& before, const char* when) const {
   for (const Seen& seen : before) {
      if (!exempt(seen, changed_, modules_)) expectHitAgain(seen, changed_, when);
   }
}

void SoakHits::stepBegins() {
   atStep_ = now();
   changedInStep_.clear();
   nextOfStep_ = 0;
}

void SoakHits::expectSteady(std::size_t packets, bool warm) {
   // A module pulled in the step leaves the switch before its unit goes.
   expectSteadySince(atStep_, nextOfStep_, packets, changedInStep_, switch_.modules(),
                     "while the agent works");
   if (warm) {
      expectSteadySince(atRestart_, nextOfRestart_, packets, changed_, modules_,
                        "while the agent works, since the warm restart");
   }
}

void SoakHits::expectSteadySince(const std::vector<Seen>& before, std::size_t& next,
                                 std::size_t packets, const std::set<uint16_t>& changed,
                                 const std::set<uint16_t>& modules, const char* when) const {
   for (std::size_t sent = 0; sent < std::min(packets, before.size()); ++sent) {
      if (next >= before.size()) next = 0;
      const Seen& seen = before[next++];
      if (!exempt(seen, changed, modules)) expectHitAgain(seen, changed, when);
   }
}

bool SoakHits::exempt(const Seen& seen, const std::set<uint16_t>& changed,
                      const std::set<uint16_t>& modules) const {
   const auto hit = static_cast<uint16_t>(seen.hitUid);
   return changed.contains(seen.uid) || changed.contains(hit) || !modules.contains(seen.module) ||
          seen.hitUid == 0 || failed(seen.uid) || failed(hit);
}

void SoakHits::expectHitAgain(const Seen& seen, const std::set<uint16_t>& changed,
                              const char* when) const {
   const uint32_t now = uidHit(seen.module, seen.packet);
   // A rule published since may sit before the one the packet hit, as it would have
   // without a restart.
   if (now == seen.hitUid || changed.contains(static_cast<uint16_t>(now))) return;
   throw SoakBroken{"a packet of uid " + std::to_string(seen.uid) + " on module " +
                    std::to_string(seen.module) + " hit uid " + std::to_string(seen.hitUid) +
                    " and hits " + std::to_string(now) + " " + when};
}

void SoakHits::expectEveryRuleHit() const {
   for (const Seen& seen : now()) {
      const bool byHost = isSoakFlowRule(seen.uid) && seen.hitUid == seen.uid - 1u;
      if (seen.hitUid != seen.uid && !byHost) {
         throw SoakBroken{"a packet of uid " + std::to_string(seen.uid) + " on module " +
                          std::to_string(seen.module) + " hits " +
                          (seen.hitUid == 0 ? "nothing" : "uid " + std::to_string(seen.hitUid))};
      }
   }
}

uint32_t SoakHits::uidHit(uint16_t module, const Packet& packet) const {
   const auto match = switch_.chip().classify(module, chipPacketOf(packet));
   if (!match) return 0;
   const auto uid = match->actions.find(Shim::sdk_.bcmFieldActionAssignOpaqueObject1());
   return uid ? uid->param0 : 0;
}

// A rule a module failed (its room taken by rules published while the agent was down or
// reconciling) loses its packets at the flash download, as the module answered.
bool SoakHits::failed(uint16_t uid) const {
   return rules_.contains(uid) &&
          switch_.controlPlane().answer(TesselNat::Uid(uid)) == ControlPlane::Answer::failed;
}

}  // namespace Simulator

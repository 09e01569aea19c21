#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "simulator/scenario/scenario.h"
#include "simulator/scenario/values.h"

namespace Simulator {

// Reads a scenario's steps in order, keeping the switch's modules and the uids in use as the
// steps leave them, so that a step which would fail when run fails here instead.
class StepReader {
public:
   // No step may use the uids the pools' sessions take.
   StepReader(const std::vector<uint16_t>& modules, const std::vector<Pool>& pools = {});

   Step read(const Values::Json& value, std::size_t index);

private:
   // What a uid in use stands for: the rule as last added or updated, or none when a generate
   // step made it, naming that step.
   struct UidUse {
      std::optional<Rule> rule;
      std::string generatedBy;
   };

   Action add(const Values::Json& value, const std::string& path);
   Action update(const Values::Json& value, const std::string& path);
   Action retry(const Values::Json& value, const std::string& path);
   Action remove(const Values::Json& value, const std::string& path);
   Action show(const Values::Json& value, const std::string& path);
   Action verify(const Values::Json& value, const std::string& path);
   Action packet(const Values::Json& value, const std::string& path);
   Packet readPacket(const Values::Json& value, const std::string& path) const;
   Action generate(const Values::Json& value, const std::string& path);
   Action traffic(const Values::Json& value, const std::string& path);
   Action restart(const Values::Json& value, const std::string& path);
   Action crash(const Values::Json& value, const std::string& path);
   Action addModule(const Values::Json& value, const std::string& path);
   Action removeModule(const Values::Json& value, const std::string& path);
   Action expectHits(const Values::Json& value, const std::string& path);
   // An action that takes no data, written `true`.
   template <class A>
   Action trueAction(const Values::Json& value, const std::string& path);

   uint16_t moduleInSwitch(const Values::Json& value, const std::string& path) const;
   uint16_t uidInUse(const Values::Json& value, const std::string& path) const;
   void use(uint16_t uid, UidUse use);
   // The lowest uid from `from` on that is not in use; 65536 when there is none.
   uint32_t lowestFreeUid(uint32_t from) const;

   std::vector<uint16_t> modules_;  // Ascending.
   std::map<uint16_t, UidUse> uids_;
   // The uids pools' sessions take, and the pool's name.
   std::map<uint16_t, std::string> poolUids_;
   // The uids of the rules in uids_, by keyFieldsHash() of the rule.
   std::unordered_multimap<std::size_t, uint16_t> rulesByKeys_;
   // The uids in use again, one bit each, so that finding the free ones takes a few word
   // scans however a file interleaves deletes and generates.
   std::array<uint64_t, 1024> usedUids_;
};

}  // namespace Simulator

#include "simulator/scenario/pool_reader.h"

#include <string>

namespace Simulator {
namespace {

using Values::fail;
using Values::Fields;
using Values::Json;

constexpr Values::Range portRange{1, 65535, "a port"};
constexpr Values::Range idleStepsRange{1, 1000000, "a step count"};
constexpr Values::Range sessionsRange{1, 4096, "a session count"};
constexpr std::size_t maxPoolVlans = 64;
// Uids left for the steps' rules whatever the pools take.
constexpr std::size_t maxPoolUids = 32768;

uint64_t addressCount(const Prefix& prefix) { return uint64_t{1} << (32 - prefix.length); }

bool overlap(const Prefix& a, const Prefix& b) {
   const uint8_t length = std::min(a.length, b.length);
   const uint32_t mask = length == 0 ? 0 : ~uint32_t{0} << (32 - length);
   return (a.address & mask) == (b.address & mask);
}

Pool readPool(const Json& value, const std::string& path, const std::vector<uint16_t>& modules) {
   const Fields fields(
       value, path,
       {"name", "inside", "outside", "ports", "vlans", "idleSteps", "sessions", "modules"});
   Pool pool;
   pool.name = Values::string(fields.requiredField("name"), fields.fieldPath("name"));
   if (pool.name.empty()) fail(fields.fieldPath("name"), "is empty");
   pool.inside = Values::prefix(fields.requiredField("inside"), fields.fieldPath("inside"));
   pool.outside = Values::prefix(fields.requiredField("outside"), fields.fieldPath("outside"));
   if (pool.outside.length < 16) {
      fail(fields.fieldPath("outside"), "more than 65536 addresses (a length of 16 to 32)");
   }
   if (overlap(pool.inside, pool.outside)) {
      fail(fields.fieldPath("outside"), "overlaps the inside prefix");
   }
   if (const Json* ports = fields.field("ports")) {
      const std::string portsPath = fields.fieldPath("ports");
      const Json::array_t& range = Values::list(*ports, portsPath);
      if (range.size() != 2)
         fail(portsPath,
              "the first and the last port, got " + std::to_string(range.size()) + " values");
      pool.firstPort = static_cast<uint16_t>(
          Values::integer(range[0], Values::elementPath(portsPath, 0), portRange));
      pool.lastPort = static_cast<uint16_t>(
          Values::integer(range[1], Values::elementPath(portsPath, 1), portRange));
      if (pool.lastPort < pool.firstPort) fail(portsPath, "the last port is below the first");
   }
   if (const Json* vlans = fields.field("vlans")) {
      pool.vlans = Values::ids(*vlans, fields.fieldPath("vlans"), Values::vlanRange);
      if (pool.vlans.size() > maxPoolVlans) {
         fail(fields.fieldPath("vlans"), "at most " + std::to_string(maxPoolVlans) + " VLANs");
      }
   }
   if (const Json* idle = fields.field("idleSteps")) {
      pool.idleSteps = static_cast<uint32_t>(
          Values::integer(*idle, fields.fieldPath("idleSteps"), idleStepsRange));
   }
   if (const Json* sessions = fields.field("sessions")) {
      pool.sessions = static_cast<uint32_t>(
          Values::integer(*sessions, fields.fieldPath("sessions"), sessionsRange));
   }
   const uint64_t translations =
       addressCount(pool.outside) * (uint64_t{pool.lastPort} - pool.firstPort + 1);
   if (pool.sessions > translations) {
      fail(fields.fieldPath("sessions"), std::to_string(pool.sessions) + " sessions, but only " +
                                             std::to_string(translations) +
                                             " outside addresses and ports");
   }
   pool.modules = Values::modulesField(fields, modules);
   return pool;
}

}  // namespace

std::vector<Pool> readPools(const Json& value, const std::vector<uint16_t>& modules) {
   const Json::array_t& items = Values::list(value, "pools");
   std::vector<Pool> pools;
   uint32_t nextUid = Values::uidRange.max;
   for (std::size_t index = 0; index < items.size(); ++index) {
      const std::string path = Values::elementPath("pools", index);
      Pool pool = readPool(items[index], path, modules);
      for (const Pool& earlier : pools) {
         if (earlier.name == pool.name) fail(path + ".name", "\"" + pool.name + "\" is taken");
         if (overlap(earlier.outside, pool.outside)) {
            fail(path + ".outside", "overlaps pool \"" + earlier.name + "\"'s");
         }
      }
      const std::size_t uids = pool.sessions * (pool.vlans.empty() ? 1u : 2u);
      if (Values::uidRange.max - nextUid + uids > maxPoolUids) {
         fail(path + ".sessions",
              "the pools' flows would take more than " + std::to_string(maxPoolUids) + " uids");
      }
      for (std::size_t i = 0; i < uids; ++i) pool.uids.push_back(static_cast<uint16_t>(nextUid--));
      pools.push_back(std::move(pool));
   }
   return pools;
}

}  // namespace Simulator

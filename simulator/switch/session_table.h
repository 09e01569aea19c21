#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "control_plane/nat_pool.h"
#include "simulator/scenario/scenario.h"

namespace Simulator {

// The dynamic NAT sessions of a scenario's pools, as the control plane keeps them: a packet
// from a pool's inside that hit nothing goes to the CPU and opens a session for its flow (its
// source, destination and protocol), with an outside address and port from the pool and the
// uids of the pool's next free session; the session is published as its flow and, where the
// pool has VLANs, its return flow. The caller publishes and withdraws the rules.
class SessionTable {
public:
   struct Session {
      std::size_t pool = 0;
      Endpoint inside;
      Endpoint remote;
      uint8_t proto = 0;
      Endpoint outside;
      uint16_t flowUid = 0;
      uint16_t returnUid = 0;  // 0: the pool has no VLANs for return flows
      uint64_t hits = 0;       // of its flows' entries, when last counted
      uint32_t idleSteps = 0;  // steps since the hits last grew
      bool justOpened = true;  // until the end of the step that opened it
   };

   explicit SessionTable(const std::vector<Pool>& pools);

   // What the CPU does with a packet that hit nothing on its module.
   struct Punt {
      enum class Outcome : uint8_t {
         notFromAPool,  // forwarded unchanged, as before
         opened,        // a new session
         known,         // its flow has a session whose flows it did not hit
         refused,       // from a pool that cannot open it a session (`why`)
      };
      Outcome outcome = Outcome::notFromAPool;
      std::size_t session = 0;
      std::string why;
   };
   Punt punt(const Packet& packet);

   // The session's flows as rules: its flow, then its return flow if any.
   std::vector<Rule> rulesOf(std::size_t id) const;
   // The session goes; its translation and uids go back to its pool.
   void close(std::size_t id);

   // By id, from 1 in the order they opened.
   std::map<std::size_t, Session>& sessions() { return sessions_; }
   const Pool& pool(std::size_t index) const { return pools_[index].pool; }

private:
   struct PoolState {
      Pool pool;
      ControlPlane::NatPool translations;
      std::set<std::size_t> freeSlots;  // session slots, each a run of its uids
   };

   std::vector<PoolState> pools_;
   std::map<std::size_t, Session> sessions_;
   std::size_t nextId_ = 1;
};

// "session 1 of pool office: 10.1.0.5:40000 > 8.8.8.8:53 proto 17 as 192.0.2.8:1024, flow uid
// 65535, return flow uid 65534 on VLANs 100".
std::string sessionText(std::size_t id, const SessionTable::Session& session, const Pool& pool);

}  // namespace Simulator

#include "simulator/switch/session_table.h"

#include <algorithm>

namespace Simulator {
namespace {

constexpr uint8_t tcp = 6;
constexpr uint8_t udp = 17;

bool inside(const Prefix& prefix, uint32_t address) {
   const uint32_t mask = prefix.length == 0 ? 0 : ~uint32_t{0} << (32 - prefix.length);
   return (address & mask) == prefix.address;
}

std::size_t uidsPerSession(const Pool& pool) { return pool.vlans.empty() ? 1 : 2; }

}  // namespace

SessionTable::SessionTable(const std::vector<Pool>& pools) {
   for (const Pool& pool : pools) {
      PoolState state{pool,
                      ControlPlane::NatPool(pool.outside.address,
                                            uint32_t{1} << (32 - pool.outside.length),
                                            pool.firstPort, pool.lastPort),
                      {}};
      for (std::size_t slot = 0; slot < pool.sessions; ++slot) state.freeSlots.insert(slot);
      pools_.push_back(std::move(state));
   }
}

SessionTable::Punt SessionTable::punt(const Packet& packet) {
   Punt punt;
   const auto from = std::find_if(pools_.begin(), pools_.end(), [&](const PoolState& state) {
      return inside(state.pool.inside, packet.src.ip) &&
             std::find(state.pool.modules.begin(), state.pool.modules.end(), packet.module) !=
                 state.pool.modules.end();
   });
   if (from == pools_.end()) return punt;
   const std::size_t poolIndex = static_cast<std::size_t>(from - pools_.begin());
   for (const auto& [id, session] : sessions_) {
      if (session.pool == poolIndex && session.inside == packet.src &&
          session.remote == packet.dst && session.proto == packet.proto) {
         return {Punt::Outcome::known, id, {}};
      }
   }
   punt.outcome = Punt::Outcome::refused;
   if (packet.proto != tcp && packet.proto != udp) {
      punt.why = "protocol " + std::to_string(packet.proto) + " opens no session (TCP and UDP do)";
   } else if (packet.fragment == Packet::Fragment::later) {
      punt.why = "a later fragment has no ports to open a session with";
   } else if (from->freeSlots.empty()) {
      punt.why = "pool " + from->pool.name + " has no session free (" +
                 std::to_string(from->pool.sessions) + " open, as many as it takes)";
   } else if (const std::optional<ControlPlane::NatPool::Translation> translation =
                  from->translations.allocate()) {
      const std::size_t slot = *from->freeSlots.begin();
      from->freeSlots.erase(from->freeSlots.begin());
      const std::size_t first = slot * uidsPerSession(from->pool);
      Session session{poolIndex, packet.src, packet.dst, packet.proto,
                      Endpoint{translation->address, translation->port}, from->pool.uids[first]};
      if (!from->pool.vlans.empty()) session.returnUid = from->pool.uids[first + 1];
      const std::size_t id = nextId_++;
      sessions_.emplace(id, session);
      return {Punt::Outcome::opened, id, {}};
   } else {
      punt.why = "pool " + from->pool.name + " has no outside address and port left";
   }
   return punt;
}

std::vector<Rule> SessionTable::rulesOf(std::size_t id) const {
   const Session& session = sessions_.at(id);
   const Pool& pool = pools_[session.pool].pool;
   Rule flow;
   flow.uid = session.flowUid;
   flow.type = RuleType::dynamicSrcNat;
   flow.src = session.inside;
   flow.srcNew = session.outside;
   flow.dst = session.remote;
   flow.dstNew = session.remote;
   flow.dynProto = session.proto;
   flow.modules = pool.modules;
   flow.keys.resize(1);
   std::vector<Rule> rules{flow};
   if (session.returnUid != 0) {
      Rule back = flow;
      back.uid = session.returnUid;
      back.type = RuleType::dynamicDestNat;
      back.src = session.remote;
      back.srcNew = session.remote;
      back.dst = session.outside;
      back.dstNew = session.inside;
      back.vlans = pool.vlans;
      rules.push_back(back);
   }
   return rules;
}

void SessionTable::close(std::size_t id) {
   const Session session = sessions_.at(id);
   PoolState& state = pools_[session.pool];
   state.translations.release({session.outside.ip, session.outside.port});
   const auto slot = std::find(state.pool.uids.begin(), state.pool.uids.end(), session.flowUid) -
                     state.pool.uids.begin();
   state.freeSlots.insert(static_cast<std::size_t>(slot) / uidsPerSession(state.pool));
   sessions_.erase(id);
}

std::string sessionText(std::size_t id, const SessionTable::Session& session, const Pool& pool) {
   std::string text = "session " + std::to_string(id) + " of pool " + pool.name + ": " +
                      endpointText(session.inside) + " > " + endpointText(session.remote) +
                      " proto " + std::to_string(session.proto) + " as " +
                      endpointText(session.outside) + ", flow uid " +
                      std::to_string(session.flowUid);
   if (session.returnUid != 0) {
      text += ", return flow uid " + std::to_string(session.returnUid) + " on VLAN";
      text += pool.vlans.size() == 1 ? " " : "s ";
      for (std::size_t i = 0; i < pool.vlans.size(); ++i) {
         if (i != 0) text += ',';
         text += std::to_string(pool.vlans[i]);
      }
   }
   return text;
}

}  // namespace Simulator

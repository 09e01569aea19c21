#pragma once

#include <string>

#include "simulator/scenario/scenario.h"

namespace Simulator {

// How a step's line names what it does: every field that decides its outcome, so that two
// steps that differ print different lines.

// "uid 7 staticDestNat dst 30.0.0.1:80 -> 192.168.1.10:8080 vlans 10,20 protocol 6 modules 1".
std::string ruleText(const Rule& rule);
// "1.2.3.4:5555 > 30.0.0.1:80 proto 6 vlan 10 fragment later tcpFlags syn".
std::string packetText(const Packet& packet);
// "crash now, ..." or "crash after 3 SDK calls of the next commit pass, ...".
std::string crashText(const Crash& crash);

}  // namespace Simulator

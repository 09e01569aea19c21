#include "simulator/switch/step_text.h"

#include <utility>

namespace Simulator {

std::string ruleText(const Rule& rule) {
   std::string text = "uid " + std::to_string(rule.uid) + " " + ruleTypeName(rule.type);
   const auto pair = [&](const char* name, const std::optional<Endpoint>& from,
                         const std::optional<Endpoint>& to) {
      if (!from) return;
      text += ' ';
      text += name;
      text += ' ';
      text += endpointText(*from);
      text += " -> ";
      text += endpointText(*to);
   };
   const auto list = [&](const char* name, const std::vector<uint16_t>& items) {
      for (std::size_t i = 0; i < items.size(); ++i) {
         text += i == 0 ? std::string(" ") + name + " " : ",";
         text += std::to_string(items[i]);
      }
   };
   pair("src", rule.src, rule.srcNew);
   pair("dst", rule.dst, rule.dstNew);
   list("vlans", rule.vlans);
   if (rule.protocol != 0) text += " protocol " + std::to_string(rule.protocol);
   if (rule.dynProto != 0) text += " dynProto " + std::to_string(rule.dynProto);
   if (rule.filter.length != 0) text += " filter " + prefixText(rule.filter);
   if (rule.nextHop != nextHopNone) text += " nextHop " + nextHopText(rule.nextHop);
   if (rule.aclId != 0) text += " aclId " + std::to_string(rule.aclId);
   list("modules", rule.modules);
   for (std::size_t key = 0; key < rule.keys.size(); ++key) {
      const KeyOverride& override = rule.keys[key];
      if (override.protocol) {
         text += " key " + std::to_string(key) + " protocol " + std::to_string(*override.protocol);
      }
      if (override.filter) {
         text += " key " + std::to_string(key) + " filter " + prefixText(*override.filter);
      }
   }
   return text;
}

std::string packetText(const Packet& packet) {
   std::string text = endpointText(packet.src) + " > " + endpointText(packet.dst) + " proto " +
                      std::to_string(packet.proto) + " vlan " + std::to_string(packet.vlan);
   if (packet.fragment == Packet::Fragment::first) text += " fragment first";
   if (packet.fragment == Packet::Fragment::later) text += " fragment later";
   const std::pair<uint8_t, const char*> flags[] = {
       {Packet::tcpFin, "fin"}, {Packet::tcpSyn, "syn"}, {Packet::tcpRst, "rst"},
       {Packet::tcpAck, "ack"}, {Packet::tcpPsh, "psh"}, {Packet::tcpUrg, "urg"}};
   const char* separator = " tcpFlags ";
   for (const auto& [bit, name] : flags) {
      if ((packet.tcpFlags & bit) == 0) continue;
      text += separator;
      text += name;
      separator = ",";
   }
   return text;
}

std::string crashText(const Crash& crash) {
   std::string text = "crash ";
   if (crash.at == Crash::At::now) {
      text += "now";
   } else {
      text += "after " + std::to_string(crash.calls) +
              (crash.calls == 1 ? " SDK call " : " SDK calls ");
      switch (crash.at) {
         case Crash::At::sdkCall:
            text += "from now";
            break;
         case Crash::At::commitPass:
            text += "of the next commit pass";
            break;
         default:
            text += "of the next flash download";
            break;
      }
   }
   return text + (crash.restart ? ", restarted by the supervisor" : ", restarted by a step");
}

}  // namespace Simulator

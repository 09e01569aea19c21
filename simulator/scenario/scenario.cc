#include "simulator/scenario/scenario.h"

namespace Simulator {

std::string ruleTypeName(RuleType type) {
   switch (type) {
      case RuleType::staticSrcNat:
         return "staticSrcNat";
      case RuleType::staticDestNat:
         return "staticDestNat";
      case RuleType::twiceSrcNat:
         return "twiceSrcNat";
      case RuleType::twiceDestNat:
         return "twiceDestNat";
      case RuleType::dynamicSrcNat:
         return "dynamicSrcNat";
      case RuleType::dynamicDestNat:
         return "dynamicDestNat";
   }
   return "RuleType(" + std::to_string(static_cast<int>(type)) + ")";
}

std::string endpointText(const Endpoint& endpoint) {
   std::string text;
   for (int shift = 24; shift >= 0; shift -= 8) {
      if (!text.empty()) text += '.';
      text += std::to_string((endpoint.ip >> shift) & 0xFF);
   }
   if (endpoint.port != 0) text += ':' + std::to_string(endpoint.port);
   return text;
}

std::string prefixText(const Prefix& prefix) {
   return endpointText(Endpoint{prefix.address, 0}) + "/" + std::to_string(prefix.length);
}

std::string nextHopText(uint32_t nextHop) {
   if (nextHop == nextHopDrop) return "drop";
   if (nextHop == nextHopNone) return "none";
   return std::to_string(nextHop);
}

}  // namespace Simulator

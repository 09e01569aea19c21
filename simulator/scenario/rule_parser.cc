#include "simulator/scenario/rule_parser.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string_view>

namespace Simulator {

namespace {

using Values::fail;
using Values::Fields;
using Values::Json;

constexpr std::size_t maxVlans = 64;
constexpr std::size_t maxKeys = 64;
constexpr Values::Range dynProtoRange{1, 255, "a protocol number"};
constexpr Values::Range nextHopRange{0, 0xFFFFFFFF, "a next hop"};
constexpr Values::Range aclIdRange{0, 0xFFFFFFFF, "an ACL id"};

constexpr RuleType allTypes[] = {RuleType::staticSrcNat,  RuleType::staticDestNat,
                                 RuleType::twiceSrcNat,   RuleType::twiceDestNat,
                                 RuleType::dynamicSrcNat, RuleType::dynamicDestNat};

enum class Need : uint8_t { forbidden, optional, required };

// Which fields a type's hardware keys and data have: a field the type has no use for is a
// mistake in the file, not something to ignore.
struct TypeNeeds {
   Need src;  // With srcNew.
   Need dst;  // With dstNew.
   Need dynProto;
   Need vlans;
   Need filter;
   Need protocol;
};

TypeNeeds needsOf(RuleType type) {
   constexpr Need no = Need::forbidden;
   constexpr Need may = Need::optional;
   constexpr Need must = Need::required;
   switch (type) {
      case RuleType::staticSrcNat:
         return {must, no, no, no, may, may};
      case RuleType::staticDestNat:
         return {no, must, no, must, may, may};
      case RuleType::twiceSrcNat:
         return {must, must, no, no, no, may};
      case RuleType::twiceDestNat:
         return {must, must, no, must, no, may};
      case RuleType::dynamicSrcNat:
         return {must, must, must, no, no, no};
      case RuleType::dynamicDestNat:
         return {must, must, must, must, no, no};
   }
   return {};
}

// The field when present, after checking its presence against what the type needs.
const Json* typedField(const Fields& fields, std::string_view name, Need need, RuleType type) {
   const Json* value = fields.field(name);
   const std::string rule = "a " + ruleTypeName(type) + " rule ";
   if (value && need == Need::forbidden) {
      fail(fields.fieldPath(name), rule + "has no " + std::string(name));
   }
   if (!value && need == Need::required) {
      fail(fields.fieldPath(name), rule + "needs " + std::string(name));
   }
   return value;
}

std::optional<Endpoint> endpointField(const Fields& fields, std::string_view name, Need need,
                                      RuleType type) {
   const Json* value = typedField(fields, name, need, type);
   if (!value) return std::nullopt;
   const Endpoint endpoint = Values::endpoint(*value, fields.fieldPath(name));
   // The keys take 0.0.0.0 for an address they leave out, so no rule can match or write it:
   // the agent would take the key for one of another type.
   if (endpoint.ip == 0) {
      fail(fields.fieldPath(name), "a " + ruleTypeName(type) + " rule cannot use 0.0.0.0");
   }
   return endpoint;
}

uint32_t nextHop(const Json& value, const std::string& path) {
   if (value == "drop") return nextHopDrop;
   if (value == "none") return nextHopNone;
   if (!value.is_number_integer()) {
      fail(path, "expected a number, \"drop\" or \"none\", got " + Values::describe(value));
   }
   return static_cast<uint32_t>(Values::integer(value, path, nextHopRange));
}

std::vector<uint16_t> vlans(const Json* value, const Fields& fields, Need need, RuleType type) {
   if (!value) return {};
   const std::string path = fields.fieldPath("vlans");
   const std::size_t count = Values::list(*value, path).size();
   if (count > maxVlans) {
      fail(path, std::to_string(count) + " VLANs, at most " + std::to_string(maxVlans));
   }
   if (count == 0 && need == Need::required) {
      fail(path, "a " + ruleTypeName(type) + " rule needs at least one VLAN");
   }
   return Values::ids(*value, path, Values::vlanRange);
}

std::vector<KeyOverride> keys(const Json* value, const Fields& fields, const TypeNeeds& needs,
                              RuleType type, uint8_t ruleProtocol) {
   if (!value) return {KeyOverride{}};
   const std::string path = fields.fieldPath("keys");
   const Json::array_t& items = Values::list(*value, path);
   if (items.empty()) fail(path, "0 keys, at least 1");
   if (items.size() > maxKeys) {
      fail(path, std::to_string(items.size()) + " keys, at most " + std::to_string(maxKeys));
   }
   std::vector<KeyOverride> result;
   for (std::size_t index = 0; index < items.size(); ++index) {
      const Fields key(items[index], Values::elementPath(path, index), {"filter", "protocol"});
      KeyOverride override;
      if (const Json* filter = typedField(key, "filter", needs.filter, type)) {
         override.filter = Values::prefix(*filter, key.fieldPath("filter"));
      }
      if (const Json* protocol = typedField(key, "protocol", needs.protocol, type)) {
         override.protocol = static_cast<uint8_t>(
             Values::integer(*protocol, key.fieldPath("protocol"), Values::protocolRange));
         // The agent writes a key's protocol only when the rule has one, and cannot clear it.
         if (ruleProtocol == 0 || *override.protocol == 0) {
            fail(key.fieldPath("protocol"),
                 "a key's protocol needs the rule's own, and cannot be 0");
         }
      }
      result.push_back(override);
   }
   return result;
}

}  // namespace

RuleType ruleType(const Json& value, const std::string& path) {
   const std::string& name = Values::string(value, path);
   std::string known;
   for (const RuleType type : allTypes) {
      if (name == ruleTypeName(type)) return type;
      known += (known.empty() ? "" : ", ") + ruleTypeName(type);
   }
   fail(path, Values::describe(value) + " is not a rule type (" + known + ")");
}

Rule parseRule(const Json& value, const std::string& path, const std::vector<uint16_t>& present) {
   const Fields fields(value, path,
                       {"uid", "type", "src", "srcNew", "dst", "dstNew", "dynProto", "protocol",
                        "filter", "nextHop", "vlans", "aclId", "modules", "keys"});
   Rule rule;
   rule.uid = static_cast<uint16_t>(
       Values::integer(fields.requiredField("uid"), fields.fieldPath("uid"), Values::uidRange));
   rule.type = ruleType(fields.requiredField("type"), fields.fieldPath("type"));
   const TypeNeeds needs = needsOf(rule.type);
   rule.src = endpointField(fields, "src", needs.src, rule.type);
   rule.srcNew = endpointField(fields, "srcNew", needs.src, rule.type);
   rule.dst = endpointField(fields, "dst", needs.dst, rule.type);
   rule.dstNew = endpointField(fields, "dstNew", needs.dst, rule.type);
   if (const Json* dynProto = typedField(fields, "dynProto", needs.dynProto, rule.type)) {
      rule.dynProto = static_cast<uint8_t>(
          Values::integer(*dynProto, fields.fieldPath("dynProto"), dynProtoRange));
   }
   if (const Json* protocol = typedField(fields, "protocol", needs.protocol, rule.type)) {
      rule.protocol = static_cast<uint8_t>(
          Values::integer(*protocol, fields.fieldPath("protocol"), Values::protocolRange));
   }
   if (const Json* filter = typedField(fields, "filter", needs.filter, rule.type)) {
      rule.filter = Values::prefix(*filter, fields.fieldPath("filter"));
   }
   if (const Json* hop = fields.field("nextHop"))
      rule.nextHop = nextHop(*hop, fields.fieldPath("nextHop"));
   rule.vlans =
       vlans(typedField(fields, "vlans", needs.vlans, rule.type), fields, needs.vlans, rule.type);
   if (const Json* aclId = fields.field("aclId")) {
      rule.aclId =
          static_cast<uint32_t>(Values::integer(*aclId, fields.fieldPath("aclId"), aclIdRange));
   }
   rule.modules = Values::modulesField(fields, present);
   rule.keys = keys(fields.field("keys"), fields, needs, rule.type, rule.protocol);
   return rule;
}

// The agent writes a filter or protocol qualifier only when there is one, and never clears
// one, so an update can change them but not take them away.
std::optional<std::string> droppedMatch(const Rule& before, const Rule& after) {
   if (before.protocol != 0 && after.protocol == 0) return "protocol";
   if (before.filter.address != 0 && after.filter.address == 0) return "filter";
   for (std::size_t i = 0; i < std::min(before.keys.size(), after.keys.size()); ++i) {
      const KeyOverride& was = before.keys[i];
      const KeyOverride& is = after.keys[i];
      const std::string key = "keys[" + std::to_string(i) + "]";
      if (was.filter.value_or(before.filter).address != 0 &&
          is.filter.value_or(after.filter).address == 0) {
         return key + ".filter";
      }
   }
   return std::nullopt;
}

const char* changedKeyField(const Rule& before, const Rule& after) {
   if (before.type != after.type) return "type";
   if (before.src != after.src) return "src";
   if (before.srcNew != after.srcNew) return "srcNew";
   if (before.dst != after.dst) return "dst";
   if (before.dstNew != after.dstNew) return "dstNew";
   if (before.dynProto != after.dynProto) return "dynProto";
   if (before.aclId != after.aclId) return "aclId";
   return nullptr;
}

std::size_t keyFieldsHash(const Rule& rule) {
   std::size_t hash = static_cast<std::size_t>(rule.type);
   const auto mix = [&hash](uint64_t value) {
      hash = (hash ^ std::hash<uint64_t>{}(value)) * 0x100000001B3;
   };
   for (const std::optional<Endpoint>* endpoint :
        {&rule.src, &rule.srcNew, &rule.dst, &rule.dstNew}) {
      mix(*endpoint ? uint64_t{(*endpoint)->ip} << 16 | (*endpoint)->port : 1ull << 48);
   }
   mix(uint64_t{rule.dynProto} << 32 | rule.aclId);
   return hash;
}

}  // namespace Simulator

#include "simulator/switch/rule_generator.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using Simulator::Generate;
using Simulator::RuleType;

Generate generateOf(uint32_t rules, std::vector<RuleType> types, uint32_t vlans) {
   Generate generate;
   generate.rules = rules;
   generate.seed = 11;
   generate.modules = {1};
   for (uint16_t uid = 1; uid <= rules; ++uid) generate.uids.push_back(uid);
   generate.types = std::move(types);
   generate.vlans = vlans;
   return generate;
}

bool isDestination(RuleType type) {
   return type == RuleType::staticDestNat || type == RuleType::twiceDestNat ||
          type == RuleType::dynamicDestNat;
}

// The mix a generate asks for: only its types, destination rules on 1 up to its VLAN count.
TEST(RuleGeneratorTest, RulesAreOfTheAskedTypesOnUpToTheAskedVlans) {
   const std::vector<RuleType> asked{RuleType::staticDestNat, RuleType::twiceSrcNat};
   std::set<RuleType> made;
   std::set<std::size_t> vlanCounts;
   for (const Simulator::Rule& rule : Simulator::generatedRules(generateOf(500, asked, 8))) {
      made.insert(rule.type);
      if (isDestination(rule.type)) vlanCounts.insert(rule.vlans.size());
   }
   EXPECT_EQ(made, std::set<RuleType>(asked.begin(), asked.end()));
   EXPECT_EQ(vlanCounts, (std::set<std::size_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

}  // namespace

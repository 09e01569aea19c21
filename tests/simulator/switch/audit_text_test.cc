#include "simulator/switch/audit_text.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using Simulator::AuditReport;

Ember::NatHwKey keyWithFaId(U32 faId) {
   return Ember::NatHwKey().typeIs(Ember::NatKeyType::staticDestNat).faIdIs(faId);
}

// One answer carries several modules' audits; each comes back under its own module.
TEST(AuditTextTest, SectionsComeBackUnderTheirModules) {
   AuditReport first;
   first.disagreements.push_back({"entry on chip", keyWithFaId(3), 10, 7, 0x1234, 0x5678});
   first.recordedKeys = {keyWithFaId(1), keyWithFaId(2)};
   first.recordedEntries = {4, 5};
   first.heldEntries = {4, 5, 6};
   AuditReport second;
   second.recordedEntries = {9};

   const auto reports =
       Simulator::auditReportsOf(Simulator::auditText(1, first) + Simulator::auditText(3, second));

   ASSERT_EQ(reports.size(), 2u);
   const AuditReport& one = reports.at(1);
   ASSERT_EQ(one.disagreements.size(), 1u);
   EXPECT_EQ(one.disagreements[0].check, "entry on chip");
   EXPECT_EQ(one.disagreements[0].key, keyWithFaId(3));
   EXPECT_EQ(one.disagreements[0].vlanId, 10);
   EXPECT_EQ(one.disagreements[0].entryId, 7u);
   EXPECT_EQ(one.disagreements[0].expected, 0x1234u);
   EXPECT_EQ(one.disagreements[0].read, 0x5678u);
   EXPECT_EQ(one.recordedKeys, first.recordedKeys);
   EXPECT_EQ(one.recordedEntries, first.recordedEntries);
   EXPECT_EQ(one.heldEntries, first.heldEntries);
   const AuditReport& three = reports.at(3);
   EXPECT_TRUE(three.disagreements.empty());
   EXPECT_TRUE(three.recordedKeys.empty());
   EXPECT_EQ(three.recordedEntries, second.recordedEntries);
   EXPECT_TRUE(three.heldEntries.empty());
}

TEST(AuditTextTest, ALineOutsideTheFormatIsRefused) {
   const std::string key = Simulator::auditText(1, {{}, {keyWithFaId(1)}, {}, {}}).substr(4);
   for (const std::string text : {"E\t4\n",              // before any module
                                  "M\t1\nE\t-4\n",       // not a number
                                  "M\t1\nE\t4x\n",       // trailing text
                                  "M\t1\nH\t\n",         // empty
                                  "M\t1\nK\tzz\n",       // not a key
                                  "M\t1\nX\t4\n"}) {     // no such line
      EXPECT_THROW(Simulator::auditReportsOf(text), std::runtime_error) << text;
   }
   EXPECT_NO_THROW(Simulator::auditReportsOf("M\t1\n" + key));
}

}  // namespace

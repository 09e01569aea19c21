#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/programmer_fixture.h"

namespace {

using NatTest::DataFields;

// The show dump and the hardware verification of one module's programmer, over a NAT group
// of 2 pipes with 2 copies each.
class DiagnosticsTest : public NatTest::ProgrammerFixture {
protected:
   void commit(U32 uid, const Ember::NatHwKey& key, const DataFields& data) {
      publish(uid, key, data);
      programmer->doCommitHwConfig(TesselNat::Uid(uid));
   }

   // What doShow writes, read back from a pipe.
   std::string show() {
      int fds[2];
      EXPECT_EQ(pipe(fds), 0);
      programmer->doShow(static_cast<U32>(fds[1]), TesselCentral::ModId(9));
      close(fds[1]);
      std::string out;
      char buffer[4096];
      for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, n);
      close(fds[0]);
      return out;
   }

   std::string ids(U32 entryId) const {
      std::string text;
      for (U8 pipe = 0; pipe < 2 && entryId; ++pipe) {
         for (U8 copy = 0; copy < 2; ++copy) {
            // Appended piece by piece: GCC 12 at -O3 misreads " " + std::string.
            text += ' ';
            text += std::to_string(natEntryManager->getPipeEntryId(module, pipe, entryId, copy));
         }
      }
      return text;
   }

   const Ember::NatHwKey srcNat = NatTest::natKey(
       {Ember::NatKeyType::staticSrcNat, NatTest::ep("10.0.0.1"), NatTest::ep("192.0.2.1")});
   const Ember::NatHwKey dstNapt = NatTest::staticDestNapt();
   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = newProgrammer();
};

TEST_F(DiagnosticsTest, ShowDumpsEveryKeyAndVlanWithIdsPerPipeAndCopyUidAndShadowState) {
   EXPECT_EQ(show(), "[]");
   commit(7, srcNat, {});
   commit(8, dstNapt, {.nextHop = 5, .vlans = {10}});
   // A record the shadow does not hold keeps the comma after its uid.
   Ember::NatHwKey stray = srcNat;
   stray.faIdIs(4);
   Tessel::EntryIdTableEntry strayRecord(stray);
   strayRecord.defaultEntryIdIs(0, natEntryManager->getEntry(module, "NAT"));
   programmer->entryIdTableIs(strayRecord);

   std::string expected = "[";
   programmer->entryIdTableForEach([&](const Tessel::EntryIdTableEntry& entry) {
      const Ember::NatHwKey& key = entry.key();
      const bool dst = key == dstNapt;
      const U16 vlan = dst ? 10 : 0;
      expected += "{\"hwKey\": \"" + key.stringValue() + " vlan: " + (dst ? "10" : "*") + "\",";
      expected += "\"eid0\": \"" + ids(entry.defaultEntryId(vlan)) + "\",";
      expected += "\"eid1\": \"" + ids(dst ? entry.fragEntryId(vlan) : 0) + "\",";
      expected += key == stray ? "\"uid\": 0,"
                  : dst        ? "\"uid\": 8,\"dirty\": 1,\"nextHop\": 5"
                               : "\"uid\": 7,\"dirty\": 1,\"nextHop\": " + std::to_string(~U64{0});
      expected += "},";
   });
   expected += "]";
   EXPECT_EQ(show(), expected);
}

// One kind of damage to the chip or the entry-id table, and the first disagreement it causes:
// what verification stops with and what the audit lists first.
struct Damage {
   const char* name;
   std::function<void()> apply;
   const char* check;
   const char* function;
   const Ember::NatHwKey* key;  // where it is found; null for the tables as a whole
   U16 vlanId;
   bool onEntry;  // found on an entry the key holds on that VLAN
   U64 expected;
   U64 read;
};

TEST_F(DiagnosticsTest, VerifyAndAuditFindTheSameFirstDisagreement) {
   EXPECT_TRUE(programmer->doAudit().empty());
   commit(7, srcNat, {});
   commit(8, dstNapt, {.protocol = 6, .vlans = {10, 20}});
   commit(9, NatTest::dynamicSrc(6), {});
   programmer->doVerify();
   EXPECT_TRUE(programmer->doAudit().empty());

   const char* const verify = "void Tessel::NatSlaveProgrammerSm::doVerify()";
   const Damage damages[] = {
       {"a qualifier changed in the chip",
        [this] {
           const U32 entry = programmer->entryIdTable(srcNat).defaultEntryId(0);
           ASSERT_EQ(chip_.bcm_field_qualify_SrcIp(module, entry, 0x0A000001, 0xFFFFFF00), 0);
        },
        "mask == ipAddr.mask()",
        "void Tessel::NatSlaveProgrammerSm::doVerifySrcIp(U32, const Netbase::IpAddrWithFullMask&)",
        &srcNat, 0, true, 0xFFFFFFFF, 0xFFFFFF00},
       {"a VLAN missing from the record",
        [this] {
           Tessel::EntryIdTableEntry moved = programmer->entryIdTable(dstNapt);
           moved.defaultEntryIdIs(30, moved.defaultEntryId(20));
           moved.defaultEntryIdDel(20);
           programmer->entryIdTableIs(moved);
        },
        "entry.defaultEntryIdHas( vlanId )", verify, &dstNapt, 20, false, 20, 0},
       {"a fragment entry where none is expected",
        [this] {
           Tessel::EntryIdTableEntry record = programmer->entryIdTable(srcNat);
           record.fragEntryIdIs(0, 4000);
           programmer->entryIdTableIs(record);
        },
        "needsFragEntry( hwKey ) || entry.fragEntryIds() == 0", verify, &srcNat, 0, false, 0, 1},
       {"a port-translating key without its fragment entry",
        [this] {
           Tessel::EntryIdTableEntry record = programmer->entryIdTable(dstNapt);
           record.fragEntryIdDel(20);
           programmer->entryIdTableIs(record);
        },
        "!hwKey.isStaticNapt() && !hwKey.isTwiceNapt()", verify, &dstNapt, 20, false, 0, 1},
       {"a record more than the shadow has",
        [this] {
           Tessel::EntryIdTableEntry stray;
           stray.keyIs(NatTest::twiceSrcNapt());
           stray.defaultEntryIdIs(0, 4001);
           programmer->entryIdTableIs(stray);
        },
        "entryIdTables() == shadow()->entrys()", verify, nullptr, 0, false, 3, 4},
   };
   for (const Damage& damage : damages) {
      SCOPED_TRACE(damage.name);
      const Tessel::EntryIdTableEntry srcRecord = programmer->entryIdTable(srcNat);
      const Tessel::EntryIdTableEntry dstRecord = programmer->entryIdTable(dstNapt);
      damage.apply();

      try {
         programmer->doVerify();
         ADD_FAILURE() << "verification passed";
      } catch (const Kiv::AssertionFailure& failure) {
         EXPECT_EQ(failure.expression(), damage.check);
         EXPECT_EQ(failure.function(), damage.function);
      }
      const std::vector<Tessel::VerifyDisagreement> found = programmer->doAudit();
      ASSERT_FALSE(found.empty());
      const Tessel::VerifyDisagreement& first = found.front();
      const Tessel::EntryIdTableEntry& record = damage.key == &srcNat ? srcRecord : dstRecord;
      EXPECT_EQ(first.check, damage.check);
      EXPECT_EQ(first.key, damage.key ? *damage.key : Ember::NatHwKey());
      EXPECT_EQ(first.vlanId, damage.vlanId);
      EXPECT_EQ(first.entryId, damage.onEntry ? record.defaultEntryId(damage.vlanId) : 0);
      EXPECT_EQ(first.expected, damage.expected);
      EXPECT_EQ(first.read, damage.read);

      // Repaired, both agree again that nothing is wrong.
      programmer->entryIdTableDel(NatTest::twiceSrcNapt());
      programmer->entryIdTableIs(srcRecord);
      programmer->entryIdTableIs(dstRecord);
      ASSERT_EQ(chip_.bcm_field_qualify_SrcIp(module, srcRecord.defaultEntryId(0), 0x0A000001, -1),
                0);
      EXPECT_TRUE(programmer->doAudit().empty());
   }
}

TEST_F(DiagnosticsTest, AuditGoesOnPastADisagreementAndSkipsWhatDependsOnIt) {
   commit(8, dstNapt, {.protocol = 6, .vlans = {10, 20}});
   // VLAN 20's entry recorded under VLAN 30 and no fragment entries: VLAN 20 is missing, the
   // entry under VLAN 30 matches VLAN 20 (its mask is right), and neither VLAN has a fragment
   // entry.
   Tessel::EntryIdTableEntry moved = programmer->entryIdTable(dstNapt);
   const U32 entry20 = moved.defaultEntryId(20);
   moved.defaultEntryIdIs(30, entry20);
   moved.defaultEntryIdDel(20);
   moved.fragEntryIdDel(20);
   moved.fragEntryIdDel(10);
   programmer->entryIdTableIs(moved);

   std::vector<std::string> checks;
   for (const auto& found : programmer->doAudit()) checks.push_back(found.check);
   // VLANs in order: 10 lacks its fragment entry; 30's entry matches VLAN 20 and lacks one.
   EXPECT_EQ(checks, (std::vector<std::string>{"entry.defaultEntryIdHas( vlanId )",
                                               "!hwKey.isStaticNapt() && !hwKey.isTwiceNapt()",
                                               "intf == vlanId",
                                               "!hwKey.isStaticNapt() && !hwKey.isTwiceNapt()"}));

   // A key the table does not hold is reported once, and nothing of it is read back.
   programmer->entryIdTableDel(dstNapt);
   const std::vector<Tessel::VerifyDisagreement> found = programmer->doAudit();
   ASSERT_EQ(found.size(), 2u);
   EXPECT_EQ(found[0].check, "entryIdTables() == shadow()->entrys()");
   EXPECT_EQ(found[1].check, "entryIdTableHas( hwKey )");

   // A check on an entry that does not exist passes exactly when it expects 0.
   programmer->doVerifySrcL4Port(999, 0);
   expectAssertion("l4Port == 0", [&] { programmer->doVerifySrcL4Port(999, 80); });
}

}  // namespace

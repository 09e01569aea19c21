#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "platform/framework/sentry/exception.h"
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

   // What doShow writes, read back from a pipe; after a size error, the text written before it.
   std::string show() {
      int fds[2];
      EXPECT_EQ(pipe(fds), 0);
      std::string out;
      try {
         programmer->doShow(static_cast<U32>(fds[1]), TesselCentral::ModId(9));
      } catch (const Sentry::InvalidSizeException&) {
         out = "size error after: ";
      }
      close(fds[1]);
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

   // The key's default entry on `vlan`.
   U32 defaultOf(const Ember::NatHwKey& key, U16 vlan) const {
      return programmer->entryIdTable(key).defaultEntryId(vlan);
   }
   // Records one more default id for the key.
   void recordAlso(const Ember::NatHwKey& key, U16 vlan, U32 entryId) {
      Tessel::EntryIdTableEntry record = programmer->entryIdTable(key);
      record.keyIs(key);
      record.defaultEntryIdIs(vlan, entryId);
      programmer->entryIdTableIs(record);
   }

   const Ember::NatHwKey srcNat = NatTest::natKey(
       {Ember::NatKeyType::staticSrcNat, NatTest::ep("10.0.0.1"), NatTest::ep("192.0.2.1")});
   const Ember::NatHwKey dstNapt = NatTest::staticDestNapt();
   const Ember::NatHwKey unknownType =
       NatTest::twiceSrcNapt().typeIs(static_cast<Ember::NatKeyType>(7));
   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = newProgrammer();
};

TEST_F(DiagnosticsTest, ShowDumpsEveryKeyAndVlanWithIdsPerPipeAndCopyUidAndShadowState) {
   programmerTrace.levelIs(8, false);
   programmerTrace.levelIs(3, true);
   sdkCallsClear();
   EXPECT_EQ(show(), "[]");
   EXPECT_THAT(programmerTraces(),
               testing::ElementsAre(
                   "void Tessel::NatSlaveProgrammerSm::doShow(U32, TesselCentral::ModId) const: "));
   commit(7, srcNat, {});
   commit(8, dstNapt, {.nextHop = 5, .vlans = {10, 20}});
   // The shadow part follows the shadow alone: a key the uid table lost keeps it, and a record
   // the shadow does not hold has none, keeping the comma after its uid.
   controlPlane.hwKeyUidTable()->entryDel(srcNat);
   Ember::NatHwKey stray = srcNat;
   stray.faIdIs(4);
   controlPlane.hwKeyUidTable()->entryIs(TesselNat::UidEntry(stray, TesselNat::Uid(9)));
   recordAlso(stray, 0, natEntryManager->getEntry(module, "NAT"));

   std::string expected = "[";
   programmer->entryIdTableForEach([&](const Tessel::EntryIdTableEntry& entry) {
      const Ember::NatHwKey& key = entry.key();
      for (const auto& [vlan, defaultId] : entry.defaultEntryIdMap()) {
         expected += "{\"hwKey\": \"" + key.stringValue() +
                     " vlan: " + (vlan ? std::to_string(vlan) : "*") + "\",\"eid0\": \"" +
                     ids(defaultId) + "\",\"eid1\": \"" +
                     ids(key == dstNapt ? entry.fragEntryId(vlan) : 0) + "\",";
         expected += key == stray ? "\"uid\": 9,"
                     : key == srcNat
                         ? "\"uid\": 0,\"dirty\": 1,\"nextHop\": " + std::to_string(~U64{0})
                         : "\"uid\": 8,\"dirty\": 1,\"nextHop\": 5";
         expected += "},";
      }
   });
   EXPECT_EQ(show(), expected + "]");

   // A shadow entry claiming more VLANs than it holds: the size error follows the uid piece.
   bool found = false;
   Ember::NatHwShadowEntry tooMany = controlPlane.shadow()->safeLookup(dstNapt, found);
   tooMany.vlanIdCountIs(65);
   controlPlane.shadow()->entryIs(tooMany);
   EXPECT_EQ(show(), "size error after: " + expected.substr(0, expected.find("\"uid\": 8,") + 9));
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
   // clang-format off
   const Damage damages[] = {
       {"a qualifier changed in the chip",
        [this] { chip_.bcm_field_qualify_SrcIp(module, defaultOf(srcNat, 0), 0x0A000001, 0xFFFFFF00); },
        "mask == ipAddr.mask()", "void Tessel::NatSlaveProgrammerSm::doVerifySrcIp(U32, const Netbase::IpAddrWithFullMask&)",
        &srcNat, 0, true, 0xFFFFFFFF, 0xFFFFFF00},
       {"a source key on a second VLAN", [this] { recordAlso(srcNat, 5, 4000); },
        "entry.defaultEntryIds() == 1", verify, &srcNat, 0, false, 1, 2},
       {"a destination key on a VLAN its shadow data does not list", [this] { recordAlso(dstNapt, 30, 4000); },
        "entry.defaultEntryIds() == shadowData.vlanIds()", verify, &dstNapt, 0, false, 2, 3},
       {"a key of an unknown type",
        [this] {
           controlPlane.shadow()->entryIs(Ember::NatHwShadowEntry(unknownType, NatTest::natData({}), Ember::NatHwShadowEntry::Dirty(1)));
           recordAlso(unknownType, 0, 4000);
        },
        "0 && \"unsupported translation type\"", verify, &unknownType, 0, false, 0, 7},
       {"a port qualifier matching part of the port",
        [this] { chip_.bcm_field_qualify_L4DstPort(module, defaultOf(dstNapt, 10), 80, 0xFF00); },
        "mask == ( U16 )-1", "void Tessel::NatSlaveProgrammerSm::doVerifyDstL4Port(U32, U16)", &dstNapt, 10, true, 0xFFFF, 0xFF00},
       {"a protocol qualifier matching part of the protocol",
        [this] { chip_.bcm_field_qualify_IpProtocol(module, defaultOf(dstNapt, 10), 6, 0x0F); },
        "mask == 0xff", "void Tessel::NatSlaveProgrammerSm::doVerifyIpProtocol(U32, U8)", &dstNapt, 10, true, 0xFF, 0x0F},
       {"an L3 ingress qualifier matching part of the VLAN",
        [this] { chip_.bcm_field_qualify_L3Ingress(module, defaultOf(dstNapt, 20), 20, 0xFFF); },
        "mask == 0x1fff", "void Tessel::NatSlaveProgrammerSm::doVerifyL3Ingress(U32, U16)", &dstNapt, 20, true, 0x1FFF, 0xFFF},
       {"zero port, VLAN and protocol qualifiers under any mask where 0 is expected",
        [this] {
           const U32 entry = defaultOf(srcNat, 0);
           chip_.bcm_field_qualify_L4SrcPort(module, entry, 0, 0xFF);
           chip_.bcm_field_qualify_L3Ingress(module, entry, 0, 0x10);
           chip_.bcm_field_qualify_IpProtocol(module, entry, 0, 0x0F);
           chip_.bcm_field_qualify_L4DstPort(module, programmer->entryIdTable(dstNapt).fragEntryId(10), 0, 0xFF);
        },
        nullptr, nullptr, nullptr, 0, false, 0, 0},
       {"a record more than the shadow has", [this] { recordAlso(NatTest::twiceSrcNapt(), 0, 4001); },
        "entryIdTables() == shadow()->entrys()", verify, nullptr, 0, false, 3, 4},
   };
   // clang-format on
   for (const Damage& damage : damages) {
      SCOPED_TRACE(damage.name);
      const Tessel::EntryIdTableEntry srcRecord = programmer->entryIdTable(srcNat);
      const Tessel::EntryIdTableEntry dstRecord = programmer->entryIdTable(dstNapt);
      damage.apply();

      if (!damage.check) {
         programmer->doVerify();
         EXPECT_TRUE(programmer->doAudit().empty());
         continue;
      }
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
      EXPECT_EQ(first.check, damage.check);
      EXPECT_EQ(first.key, damage.key ? *damage.key : Ember::NatHwKey());
      EXPECT_EQ(first.vlanId, damage.vlanId);
      EXPECT_EQ(first.entryId, damage.onEntry ? defaultOf(*damage.key, damage.vlanId) : 0);
      EXPECT_EQ(first.expected, damage.expected);
      EXPECT_EQ(first.read, damage.read);

      // Repaired and written again, both agree again that nothing is wrong.
      programmer->entryIdTableDel(NatTest::twiceSrcNapt());
      programmer->entryIdTableDel(unknownType);
      controlPlane.shadow()->entryDel(unknownType);
      programmer->entryIdTableIs(srcRecord);
      programmer->entryIdTableIs(dstRecord);
      commit(7, srcNat, {});
      commit(8, dstNapt, {.protocol = 6, .vlans = {10, 20}});
      EXPECT_TRUE(programmer->doAudit().empty());
   }
}

// Every qualifier of a key's default entry changed to a value of its own (masks kept): the
// audit reads them back in the order of the key's type, and only those the type examines.
TEST_F(DiagnosticsTest, EachKeyTypeReadsItsQualifiersInItsOwnOrder) {
   // A filter of one address, so that every address qualifier has the full mask.
   const Netbase::IpAddrWithFullMask filter(Netbase::IpAddr("10.1.2.3"), ~0u);
   constexpr U32 srcIp = 0x01000000, dstIp = 0x02000000, srcPort = 3, dstPort = 4, intf = 6;
   constexpr U8 proto = 5;
   // Plain data only: GCC 12 at -O3 misreads a static table of vectors as uninitialised.
   const struct {
      Ember::NatHwKey key;
      U8 protocol;
      U16 vlan;  // 0: a source key
      bool filtered;
      std::array<U64, 6> reads;  // 0 after the last
   } rows[] = {
       {srcNat, 6, 0, true, {srcIp, dstIp, intf, srcPort, proto}},
       {NatTest::twiceSrcNapt(), 6, 0, false, {srcIp, dstIp, dstPort, intf, srcPort, proto}},
       {dstNapt, 6, 10, true, {intf, srcIp, dstIp, dstPort, proto}},
       {NatTest::twiceDestNapt(), 6, 10, false, {intf, srcIp, srcPort, dstIp, dstPort, proto}},
       {NatTest::dynamicDest(), 0, 10, false, {srcIp, dstIp, proto, srcPort, dstPort}},
   };
   U32 uid = 1;
   for (const auto& row : rows) {
      SCOPED_TRACE(row.key.stringValue());
      NatTest::DataFields data{.protocol = row.protocol};
      if (row.vlan != 0) data.vlans = {row.vlan};
      if (row.filtered) data.filter = filter;
      commit(uid++, row.key, data);
      const U32 entry = defaultOf(row.key, row.vlan);
      chip_.bcm_field_qualify_SrcIp(module, entry, srcIp, ~0u);
      chip_.bcm_field_qualify_DstIp(module, entry, dstIp, ~0u);
      chip_.bcm_field_qualify_L4SrcPort(module, entry, srcPort, 0xFFFF);
      chip_.bcm_field_qualify_L4DstPort(module, entry, dstPort, 0xFFFF);
      chip_.bcm_field_qualify_IpProtocol(module, entry, proto, 0xFF);
      chip_.bcm_field_qualify_L3Ingress(module, entry, intf, 0x1FFF);
      std::vector<U64> reads;
      for (const Tessel::VerifyDisagreement& found : programmer->doAudit()) {
         if (found.key == row.key) reads.push_back(found.read);
      }
      std::vector<U64> expected(row.reads.begin(), row.reads.end());
      std::erase(expected, U64{0});
      EXPECT_EQ(reads, expected);
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

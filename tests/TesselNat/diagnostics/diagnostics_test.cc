#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

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

TEST_F(DiagnosticsTest, VerifyPassesOnAProgrammedModuleAndStopsAtTheFirstDisagreement) {
   programmer->doVerify();
   commit(7, srcNat, {});
   commit(8, dstNapt, {.protocol = 6, .vlans = {10, 20}});
   commit(9, NatTest::dynamicSrc(6), {});
   programmer->doVerify();

   // The chip holds a source address under another mask.
   const U32 srcEntry = programmer->entryIdTable(srcNat).defaultEntryId(0);
   ASSERT_EQ(chip_.bcm_field_qualify_SrcIp(module, srcEntry, 0x0A000001, 0xFFFFFF00), 0);
   expectAssertion("mask == ipAddr.mask()", [&] { programmer->doVerify(); });
   ASSERT_EQ(chip_.bcm_field_qualify_SrcIp(module, srcEntry, 0x0A000001, -1), 0);

   // The record holds VLAN 30 where the shadow lists 20.
   const Tessel::EntryIdTableEntry dstRecord = programmer->entryIdTable(dstNapt);
   Tessel::EntryIdTableEntry moved = dstRecord;
   moved.defaultEntryIdDel(20);
   moved.defaultEntryIdIs(30, dstRecord.defaultEntryId(20));
   programmer->entryIdTableIs(moved);
   expectAssertion("entry.defaultEntryIdHas( vlanId )", [&] { programmer->doVerify(); });

   // A port-translating key without its fragment entry.
   Tessel::EntryIdTableEntry withoutFrag = dstRecord;
   withoutFrag.fragEntryIdDel(20);
   programmer->entryIdTableIs(withoutFrag);
   expectAssertion("!hwKey.isStaticNapt() && !hwKey.isTwiceNapt()",
                   [&] { programmer->doVerify(); });
   programmer->entryIdTableIs(dstRecord);
   programmer->doVerify();

   // A check on an entry that does not exist passes exactly when it expects 0.
   programmer->doVerifySrcL4Port(999, 0);
   expectAssertion("l4Port == 0", [&] { programmer->doVerifySrcL4Port(999, 80); });
}

}  // namespace

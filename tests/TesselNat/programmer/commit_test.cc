#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/framework/sentry/exception.h"
#include "tests/support/programmer_fixture.h"

namespace {

using Dirty = Ember::NatHwShadowEntry::Dirty;

// doCommitHwConfig: the pending test, the dirty-state branches, the VLAN sweep, the delete
// loop and the one status record of every commit.
class CommitTest : public NatTest::ProgrammerFixture {
protected:
   explicit CommitTest(U32 natEntries = 48) : ProgrammerFixture(natEntries) {}

   // As the agent commits: once the programmer has been told of what the control plane
   // published.
   void commit(U32 uid) {
      Kiv::eventLoop().doRunUntilIdle();
      programmer->doCommitHwConfig(TesselNat::Uid(uid));
   }

   // The VLANs a key holds default entries on.
   std::set<U16> vlansOf(const Ember::NatHwKey& key) const {
      std::set<U16> vlans;
      const Tessel::EntryIdTableEntry entry = programmer->entryIdTable(key);
      for (const auto& [vlan, id] : entry.defaultEntryIdMap()) vlans.insert(vlan);
      return vlans;
   }

   void expectStatus(U32 uid, U32 result) {
      EXPECT_EQ(status(uid), Quill::QuillShoalStatus(Quill::QuillShoalKey(uid), result,
                                                     controlPlane.reqVersion(TesselNat::Uid(uid))));
   }

   Ember::NatHwKey withFaId(Ember::NatHwKey key, U32 faId) { return key.faIdIs(faId); }

   const Ember::NatHwKey dst = NatTest::staticDestNapt();
   const Ember::NatHwKey src = NatTest::natKey(
       {Ember::NatKeyType::staticSrcNat, NatTest::ep("10.0.0.1"), NatTest::ep("192.0.2.1")});
   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = newProgrammer();
};

// A uid not pending for the module (traced at level 7), one whose pending set reads corrupt
// (reported, read as empty) and a key of an unknown dirty value are answered, and that only.
TEST_F(CommitTest, WithNothingToProgramACommitOnlyAnswers) {
   programmerTrace.levelIs(7, true);
   publish(7, dst, {.vlans = {10}}, false);
   sdkCallsClear();
   commit(7);
   ASSERT_THAT(programmerTraces(),
               testing::ElementsAre("SPSm::doCommitHwConfig mod 1 uid 7 not in pending set"));
   EXPECT_EQ(traces_.messages().back().level, 7u);
   expectStatus(7, 1);

   publish(7, dst, {.vlans = {10}});
   controlPlane.ingModSetDir()->corruptionOnReadIs(1);
   commit(7);
   EXPECT_EQ(controlPlane.ingModSetDir()->corruptionReports(), 1u);
   expectStatus(7, 1);

   bool found = false;
   Ember::NatHwShadowEntry entry = controlPlane.shadow()->safeLookup(dst, found);
   entry.dirtyIs(static_cast<Dirty>(9));
   controlPlane.shadow()->entryIs(entry);
   commit(7);
   expectStatus(7, 1);
   EXPECT_TRUE(sdkCalls().empty());
   EXPECT_EQ(programmer->entryIdTables(), 0u);
   EXPECT_EQ(statusDir->writes(), 3u);
}

TEST_F(CommitTest, HitlessPhaseProcessesEveryUidAndAcceptsCleanEntries) {
   publish(7, dst, {.vlans = {10}}, false);
   controlPlane.ruleCleanIs(TesselNat::Uid(7));
   programmer->hitlessInitPhaseIs(true);
   sdkCallsClear();
   commit(7);
   EXPECT_EQ(vlansOf(dst), (std::set<U16>{10}));
   expectStatus(7, 1);
   const std::vector<std::string> traces = programmerTraces();
   ASSERT_FALSE(traces.empty());
   EXPECT_THAT(traces.front(), testing::EndsWith("key: " + dst.stringValue() + " dirty: clean"));

   programmer->hitlessInitPhaseIs(false);
   controlPlane.ruleIs(controlPlane.rule(TesselNat::Uid(7)));  // pending for module 2 only
   publish(8, src, {});
   controlPlane.ruleCleanIs(TesselNat::Uid(8));
   expectAssertion("hitlessInitPhase() && \"invalid hw access with clean shadow\"",
                   [&] { commit(8); });
}

// The delete loop: surplus keys of a shrunk rule, and every key of a removed one, up to the
// first gap; a stray record beyond it is not the rule's business.
TEST_F(CommitTest, ShrunkOrRemovedRuleLosesItsKeysUpToTheFirstGapWithOneStatusEachCommit) {
   publish(7, dst, {.vlans = {10}, .faIdLimit = 3});
   commit(7);
   ASSERT_EQ(programmer->entryIdTables(), 3u);
   programmer->entryIdTableIs(Tessel::EntryIdTableEntry(withFaId(dst, 4)));
   publish(7, dst, {.vlans = {10}, .faIdLimit = 0});
   commit(7);
   EXPECT_TRUE(programmer->entryIdTableHas(dst));
   EXPECT_FALSE(programmer->entryIdTableHas(withFaId(dst, 1)));
   EXPECT_FALSE(programmer->entryIdTableHas(withFaId(dst, 2)));
   EXPECT_EQ(entriesHeld().size(), 2u);
   controlPlane.ruleRemovalIs(TesselNat::Uid(7));
   sdkCallsClear();
   commit(7);
   EXPECT_FALSE(programmer->entryIdTableHas(dst));
   EXPECT_TRUE(programmer->entryIdTableHas(withFaId(dst, 4)));
   EXPECT_TRUE(entriesHeld().empty());
   EXPECT_EQ(sdkCalls().size(), 2u);  // default and fragment
   EXPECT_EQ(statusDir->writes(), 3u);
   expectStatus(7, 1);
}

// The error's dump once read 2 * count bytes from the record's 64 slots: past the record for
// any count above 64, far enough to crash for a large one. It shows the 64 slots only.
TEST_F(CommitTest, VlanCountBeyondTheArrayRaisesTheSizeErrorAndProgramsNothing) {
   publish(7, dst, {.vlans = {10}});
   bool found = false;
   Ember::NatHwShadowEntry entry = controlPlane.shadow()->safeLookup(dst, found);
   for (const U32 count : {65u, 0xFFFFu}) {
      SCOPED_TRACE(count);
      entry.vlanIdCountIs(count);
      controlPlane.shadow()->entryIs(entry);
      sdkCallsClear();
      EXPECT_THAT(
          [&] { commit(7); },
          testing::ThrowsMessage<Sentry::InvalidSizeException>(testing::AllOf(
              testing::StartsWith(Kiv::format("PodArray::set expected size <= 64, instead got "
                                              "%u. Buffer is at address: 0x",
                                              count)),
              testing::EndsWith(Kiv::format(
                  " with contents: %s (first 128 of %u bytes shown)",
                  Sentry::dumpHex(entry.vlanIdSlots().data(), 128).c_str(), 2 * count)))));
      EXPECT_TRUE(sdkCalls().empty());
      EXPECT_EQ(statusDir->writes(), 0u);
   }
}

TEST_F(CommitTest, AFullStatusDirectoryRefusesANewAnswerAndKeepsTheOthers) {
   statusDir->sharedState()->capacityIs(1);
   publish(7, dst, {.vlans = {10}});
   publish(8, src, {.vlans = {10, 20}});
   commit(7);
   commit(8);
   EXPECT_EQ(statusDir->capacityReports(), 1u);
   EXPECT_FALSE(statusDir->quillStatusHas(Quill::QuillShoalKey(8)));
   expectStatus(7, 1);
   // Programmed all the same, a source key once on VLAN 0 whatever its list.
   EXPECT_EQ(vlansOf(src), (std::set<U16>{0}));
   controlPlane.requestIs(TesselNat::Uid(7));
   commit(7);
   expectStatus(7, 1);
}

TEST_F(CommitTest, MissingRequestRecordStops) {
   publish(7, dst, {.vlans = {10}}, false);
   controlPlane.quillShoalConfigDir()->quillConfigDel(Quill::QuillShoalKey(7));
   expectAssertion("quillShoalConfigDir()->quillConfigHas( quillShoalKey )", [&] { commit(7); });
}

// A uid missing from the uid table, or its key from the shadow, stops the agent naming the
// table. A shadow read that meets corruption is reported and is not an absent key: the commit
// goes on with the default record, whose clean state is what stops it.
TEST_F(CommitTest, AnAbsentKeyStopsTheCommitAndACorruptReadIsNoAbsentKey) {
   publish(7, dst, {.vlans = {10}});
   controlPlane.uidHwKeyTable()->entryDel(TesselNat::Uid(7));
   expectAssertion("uidHwKeyTable()->entryHas( uid )", [&] { commit(7); });

   publish(8, src, {});
   controlPlane.shadow()->entryDel(src);
   expectAssertion("shadow()->entryHas( hwKey0 )", [&] { commit(8); });

   const Ember::NatHwKey other = NatTest::natKey(
       {Ember::NatKeyType::staticSrcNat, NatTest::ep("10.0.0.2"), NatTest::ep("192.0.2.2")});
   publish(9, other, {});
   controlPlane.shadow()->corruptionOnReadIs(1);
   expectAssertion("hitlessInitPhase() && \"invalid hw access with clean shadow\"",
                   [&] { commit(9); });
   EXPECT_EQ(controlPlane.shadow()->corruptionReports(), 1u);
}

class CommitWithFullTcamTest : public CommitTest {
protected:
   CommitWithFullTcamTest() : CommitTest(6) {}
};

TEST_F(CommitWithFullTcamTest, LaterSourceKeyOfAFailedRuleIsLeftAlone) {
   const Ember::NatHwKey napt = NatTest::staticSrcNapt();
   publish(7, napt, {.faIdLimit = 3});
   commit(7);
   ASSERT_EQ(programmer->entryIdTables(), 3u);
   const Tessel::EntryIdTableEntry third = programmer->entryIdTable(withFaId(napt, 2));
   programmer->entryIdTableDel(withFaId(napt, 1));  // forget, keep held
   sdkCallsClear();
   commit(7);
   expectStatus(7, 2);
   EXPECT_EQ(programmer->entryIdTable(withFaId(napt, 2)), third);
   std::vector<std::string> programmed;
   for (const std::string& trace : programmerTraces()) {
      if (trace.starts_with("doProgram ")) programmed.push_back(trace);
   }
   EXPECT_THAT(
       programmed,
       testing::ElementsAre("doProgram key: " + napt.stringValue() + " for vlanId 0",
                            "doProgram key: " + withFaId(napt, 1).stringValue() + " for vlanId 0"));
   // The failed key is logged once (the text: program_driver_test.cc), naming the module and
   // the uid in hand.
   ASSERT_EQ(logs.records().size(), 1u);
   EXPECT_EQ(logs.records()[0].context, (Kiv::LogContext{module, 7}));
}

TEST_F(CommitWithFullTcamTest, AfterAFailureLaterVlanKeysAreSweptAndSurplusKeysDeleted) {
   publish(7, dst, {.vlans = {10}, .faIdLimit = 3});
   commit(7);
   ASSERT_EQ(entriesHeld().size(), 6u);
   // The second key loses its entries to another user, and a stale record sits beyond the rule.
   programmer->doDeleteEntry(withFaId(dst, 1), 10);
   programmer->entryIdTableDel(withFaId(dst, 1));
   const std::set<U32> other{natEntryManager->getEntry(module, "other"),
                             natEntryManager->getEntry(module, "other")};
   programmer->entryIdTableIs(Tessel::EntryIdTableEntry(withFaId(dst, 3)));
   controlPlane.requestIs(TesselNat::Uid(7));
   commit(7);
   expectStatus(7, 2);
   EXPECT_EQ(vlansOf(dst), (std::set<U16>{10}));
   EXPECT_EQ(vlansOf(withFaId(dst, 1)), (std::set<U16>{}));
   EXPECT_TRUE(programmer->entryIdTableHas(withFaId(dst, 2)));
   EXPECT_EQ(vlansOf(withFaId(dst, 2)), (std::set<U16>{}));
   EXPECT_FALSE(programmer->entryIdTableHas(withFaId(dst, 3)));
   std::set<U32> held = other;
   held.insert(programmer->entryIdTable(dst).defaultEntryId(10));
   held.insert(programmer->entryIdTable(dst).fragEntryId(10));
   EXPECT_EQ(entriesHeld(), held);
}

}  // namespace

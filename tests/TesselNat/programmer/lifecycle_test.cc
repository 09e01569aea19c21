#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "tests/support/programmer_fixture.h"

namespace {

using testing::ElementsAre;

// Construction, initialisation on flash-download wait 3, the warm-start phase, port
// translation and the type descriptor. (Destruction leaving the rules in the chip:
// restart_test.cc.)
class LifecycleTest : public NatTest::ProgrammerFixture {
protected:
   static constexpr TcamFlashDownloadReq natFlashDownload = 3;

   // `value` with the `width` bits at `shift` set to `field`.
   static U32 withField(U32 value, U32 shift, U32 width, U32 field) {
      const U32 mask = ((1u << width) - 1) << shift;
      return (value & ~mask) | (field << shift);
   }

   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer;
};

TEST_F(LifecycleTest, InitialisesExactlyWhenWaitThreeIsOrBecomesDoneAndThenEndsTheHitlessPhase) {
   scsd->hitlessInitIs(true);
   scsd->flashDownloadWaitIs(natFlashDownload, false);
   programmer = newProgrammer();
   EXPECT_FALSE(programmer->initialized());
   EXPECT_TRUE(programmer->hitlessInitPhase());
   scsd->flashDownloadWaitIs(2, true);
   EXPECT_FALSE(programmer->initialized()) << "another wait changes nothing";
   sdkCallsClear();
   scsd->flashDownloadWaitIs(natFlashDownload, true);
   EXPECT_TRUE(programmer->initialized());
   EXPECT_FALSE(programmer->hitlessInitPhase());
   EXPECT_THAT(programmerTraces(),
               ElementsAre("SPSm::handleInitialized initialized: true hitlessInitPhase: true"));

   // Wait 3 already done at construction.
   programmer = newProgrammer();
   EXPECT_TRUE(programmer->initialized());
   EXPECT_FALSE(programmer->hitlessInitPhase());

   // Without the shared state there is nothing to wait for, and nothing to watch.
   programmer = NatTest::programmerOn(*entityManager, statusDir, module, groups, nullptr);
   EXPECT_FALSE(programmer->initialized());
   EXPECT_FALSE(programmer->hitlessInitPhase());
   programmer->doInit(natFlashDownload);
   EXPECT_FALSE(programmer->initialized());
}

// Switched off or being destroyed, a programmer leaves the shared state's changes alone.
TEST_F(LifecycleTest, AProgrammerSwitchedOffOrDeactivatedNeverStartsDoInit) {
   for (const bool deactivated : {false, true}) {
      scsd->flashDownloadWaitIs(natFlashDownload, false);
      programmer = newProgrammer();
      programmer->hasNotificationActiveIs(true);
      if (deactivated)
         programmer->deactivateReactors();
      else
         programmer->hasNotificationActiveIs(false);
      sdkCallsClear();
      scsd->flashDownloadWaitIs(natFlashDownload, true);
      EXPECT_FALSE(programmer->initialized()) << "deactivated: " << deactivated;
      EXPECT_TRUE(sdkCalls().empty());
   }
}

// The profile entries are switched on index by index, in every pipe's copy (the writes name
// all blocks), keeping every other bit; a failed write stops the sequence, so what the chip
// holds then shows the order of the indexes. The register's fields are set the same way.
TEST_F(LifecycleTest, PortTranslationIsSwitchedOnFieldByFieldAndIndexByIndex) {
   constexpr U32 preset = 0xA5A5A5A5;
   const U32 order[] = {30, 31, 32, 33, 40, 41};
   for (U32 written = 0; written <= std::size(order); ++written) {
      SCOPED_TRACE(Kiv::format("%u writes", written));
      chip_.portTranslationControlIs(module, preset);
      for (U32 index = 0; index < Chip::PortTranslation::profileEntries; ++index) {
         chip_.portTranslationProfileIs(module, index, {preset, preset ^ index, ~preset});
      }
      scsd->flashDownloadWaitIs(natFlashDownload, false);
      programmer = newProgrammer();
      sdkCallsClear();
      if (written < std::size(order)) {
         Shim::sdk_.faultInjector().failNthCallIs(Shim::Operation::memWrite, written + 1, -26);
         testing::internal::CaptureStderr();
         EXPECT_THROW(scsd->flashDownloadWaitIs(natFlashDownload, true), Kiv::AssertionFailure);
         testing::internal::GetCapturedStderr();
      } else {
         scsd->flashDownloadWaitIs(natFlashDownload, true);
      }
      for (U32 index = 0; index < Chip::PortTranslation::profileEntries; ++index) {
         const bool enabled = std::find(order, order + written, index) != order + written;
         const U32 mode = enabled ? withField(preset ^ index, 8, 2, 3) : preset ^ index;
         for (const U8 pipe : {0, 1}) {
            EXPECT_EQ(chip_.portTranslationProfile(module, pipe, index),
                      (Chip::PortTranslation::ProfileEntry{preset, mode, ~preset}))
                << "profile entry " << index << " in pipe " << int{pipe};
         }
      }
   }

   std::vector<std::string> expected{"soc_reg32_get( unit(), reg, REG_PORT_ANY, 0, &val )",
                                     "soc_reg32_set( unit(), reg, REG_PORT_ANY, 0, val )"};
   for (int index = 0; index < 6; ++index) {
      expected.push_back("soc_mem_read( unit, mem, MEM_BLOCK_ANY, idx, entry )");
      expected.push_back("soc_mem_write( unit, mem, MEM_BLOCK_ALL, idx, entry )");
   }
   EXPECT_EQ(sdkCalls(), expected);
   U32 control = preset;
   const U32 fields[][3] = {{0, 2, 3},  {2, 2, 3},  {4, 2, 3},  {8, 1, 1}, {9, 1, 1},
                            {10, 1, 1}, {12, 2, 3}, {16, 2, 2}, {20, 1, 1}};
   for (const auto& [shift, width, value] : fields) {
      control = withField(control, shift, width, value);
   }
   EXPECT_EQ(chip_.portTranslationControl(module), control);
}

TEST_F(LifecycleTest, TypeDescriptorListsTheOperationsInOrderAndInvokesThemByName) {
   const Kiv::Ptr<Kiv::TypeNode> type = Tessel::NatSlaveProgrammerSm::typeNode();
   std::vector<Kiv::String> operations;
   for (const Kiv::MemberDescriptor& member : type->members()) {
      if (member.kind == Kiv::MemberDescriptor::Kind::operation) operations.push_back(member.name);
   }
   EXPECT_THAT(
       operations,
       ElementsAre("doInit", "doInit", "doProgram", "doProgramEntry", "doDeleteEntry",
                   "doProgramDynamicNatEntry", "doShow", "doVerify", "doVerifySrcIp",
                   "doVerifyDstIp", "doVerifySrcL4Port", "doVerifyDstL4Port", "doVerifyIpProtocol",
                   "doVerifyL3Ingress", "doCommitHwConfig", "handleInitialized"));

   scsd->flashDownloadWaitIs(natFlashDownload, false);
   programmer = newProgrammer();
   scsd->flashDownloadWaitIs(natFlashDownload, true);
   programmer->hitlessInitPhaseIs(true);
   type->invoke(*programmer, "doInit", {TcamFlashDownloadReq{natFlashDownload}});
   EXPECT_FALSE(std::any_cast<bool>(type->attribute(*programmer, "hitlessInitPhase")));

   const Ember::NatHwKey key = NatTest::staticSrcNapt();
   publish(7, key, {});
   EXPECT_TRUE(std::any_cast<bool>(
       type->invoke(*programmer, "doProgram", {key, key, NatTest::natData({}), U16{0}})));
   EXPECT_EQ(
       std::any_cast<Tessel::EntryIdTableEntry>(type->member(*programmer, "entryIdTable", key)),
       programmer->entryIdTable(key));
   EXPECT_THROW(type->invoke(*programmer, "doShow", {}), Kiv::TypeException);
}

}  // namespace

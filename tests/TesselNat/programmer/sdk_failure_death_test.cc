#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>

#include "tests/support/programmer_fixture.h"

namespace {

using Start = TesselTcamGroupManager::Start;

// What the plug-in does to reach a call site.
enum class Reach {
   commitStaticSrc,   // a new static source NAPT rule with a protocol: default and fragment entry
   commitStaticDest,  // a new static destination NAPT rule on one VLAN
   commitDynamicTcp,  // a new dynamic TCP flow
   updateStaticSrc,   // the static source rule committed, then changed and committed again
   removeStaticSrc,   // the static source rule committed, then removed
   commitWarm,        // the static source rule committed during a warm start's staging
   initialize,        // flash-download wait 3 becomes done: port translation is switched on
};

// One SDK call-site family: the first call of `operation` that `reach` makes fails. (A failed
// port-translation profile write: lifecycle_test.cc, where it shows the order of the indexes.)
struct CallSite {
   const char* name;
   Shim::Operation operation;
   Reach reach;
   const char* file;
   const char* call;       // the call's text at its site
   const char* signature;  // the operation making the call, as the fatal assertion names it
};

const char* const staticFile = "TesselNat/programmer/static_nat_entry.cc";
const char* const staticEntry =
    "void Tessel::NatSlaveProgrammerSm::doProgramEntry(U32, bool, bool, const Ember::NatHwKey&, "
    "const Ember::NatHwData&, const Ember::NatHwKey&, const Ember::NatHwData&, U16, U32)";
const char* const dynamicFile = "TesselNat/programmer/dynamic_nat_entry.cc";
const char* const dynamicEntry =
    "void Tessel::NatSlaveProgrammerSm::doProgramDynamicNatEntry(U32, bool, bool, const "
    "Ember::NatHwKey&, const Ember::NatHwData&, const Ember::NatHwKey&, const Ember::NatHwData&, "
    "U32)";
const char* const entryManagerFile = "platform/switch/tcam/tessel_unbounded_tcam_entry_manager.cc";
const char* const getEntry =
    "U32 TesselUnboundedTcamEntryManager::getEntry(U16, const Kiv::String&)";
const char* const initFile = "TesselNat/programmer/initialization.cc";
const char* const handleInitialized =
    "virtual void Tessel::NatSlaveProgrammerSm::handleInitialized()";
const char* const enableL4PortTranslation = "void Tessel::doEnableL4PortTranslation(U16, U32)";
using enum Shim::Operation;
using enum Reach;

// clang-format off
const CallSite callSites[] = {
    {"EntryCreate", entryCreate, commitStaticSrc, entryManagerFile, "bcm_field_entry_create_at( unit, group(), entryId, slot )", getEntry},
    {"EntryCreateStaged", entryCreateStaged, commitWarm, entryManagerFile, "bcm_field_entry_create( unit, group(), entryId )", getEntry},
    {"QualifySrcIp", qualifySrcIp, commitStaticSrc, staticFile, "bcm_field_qualify_SrcIp( unit(), entryId, hwKey.srcIpAndPortOld().ip().value(), -1 )", staticEntry},
    {"QualifyDstIp", qualifyDstIp, commitStaticDest, staticFile, "bcm_field_qualify_DstIp( unit(), entryId, hwKey.dstIpAndPortOld().ip().value(), -1 )", staticEntry},
    {"QualifyL4SrcPort", qualifyL4SrcPort, commitStaticSrc, staticFile, "bcm_field_qualify_L4SrcPort( unit(), entryId, hwKey.srcIpAndPortOld().port(), -1 )", staticEntry},
    {"QualifyL4DstPort", qualifyL4DstPort, commitStaticDest, staticFile, "bcm_field_qualify_L4DstPort( unit(), entryId, hwKey.dstIpAndPortOld().port(), -1 )", staticEntry},
    {"QualifyL3Ingress", qualifyL3Ingress, commitStaticDest, staticFile, "bcm_field_qualify_L3Ingress( unit(), entryId, vlanId, -1 )", staticEntry},
    {"QualifyIpProtocol", qualifyIpProtocol, commitStaticSrc, staticFile, "bcm_field_qualify_IpProtocol( unit(), entryId, shadowData.protocol(), TCAM_FIELD_IPPROTO_MASK )", staticEntry},
    {"QualifyIpFrag", qualifyIpFrag, commitStaticSrc, staticFile, "bcm_field_qualify_IpFrag( unit(), entryId, bcmFieldIpFragAny )", staticEntry},
    {"QualifyTcpControl", qualifyTcpControl, commitDynamicTcp, dynamicFile, "bcm_field_qualify_TcpControl( unit(), entryId, 0, TCAM_FIELD_TCP_CONTROL_MASK )", dynamicEntry},
    {"ActionRemoveAll", actionRemoveAll, updateStaticSrc, staticFile, "bcm_field_action_remove_all( unit(), entryId )", staticEntry},
    {"ActionAdd", actionAdd, commitStaticSrc, staticFile, "bcm_field_action_add( unit(), entryId, bcmFieldActionAssignExtractionCtrlId, extractionCtrlId, 0x1f )", staticEntry},
    {"EntryInstall", entryInstall, commitStaticSrc, entryManagerFile, "bcm_field_entry_install( unit, entryId )", "void TesselUnboundedTcamEntryManager::installEntry(U16, U32)"},
    {"EntryReinstall", entryReinstall, updateStaticSrc, entryManagerFile, "bcm_field_entry_reinstall( unit, entryId )", "void TesselUnboundedTcamEntryManager::reinstallEntry(U16, U32)"},
    {"EntryDestroy", entryDestroy, removeStaticSrc, entryManagerFile, "bcm_field_entry_destroy( unit, entryId )", "void TesselUnboundedTcamEntryManager::freeEntry(U16, U32)"},
    {"PortTranslationControlGet", regGet, initialize, initFile, "soc_reg32_get( unit(), reg, REG_PORT_ANY, 0, &val )", handleInitialized},
    {"PortTranslationControlSet", regSet, initialize, initFile, "soc_reg32_set( unit(), reg, REG_PORT_ANY, 0, val )", handleInitialized},
    {"PortTranslationProfileRead", memRead, initialize, initFile, "soc_mem_read( unit, mem, MEM_BLOCK_ANY, idx, entry )", enableL4PortTranslation},
};
// clang-format on

// `text` matched literally by a death test's (POSIX extended) regular expression.
std::string literal(const std::string& text) {
   std::string escaped;
   for (const char c : text) {
      if (std::string_view(".[]()*+?{}|^$\\").find(c) != std::string_view::npos) escaped += '\\';
      escaped += c;
   }
   return escaped;
}

void PrintTo(const CallSite& site, std::ostream* out) { *out << site.name; }

// A failed SDK write stops the agent with two lines: the call's, naming its site, text and
// code, then the fatal assertion's, naming the operation that made the call (the call site
// gives the same operation to the trace of a successful call).
class SdkFailureDeathTest : public NatTest::ProgrammerFixture,
                            public ::testing::WithParamInterface<CallSite> {
protected:
   static constexpr TcamFlashDownloadReq natFlashDownload = 3;
   static constexpr U32 uid = 7;

   void commit() { programmer->doCommitHwConfig(TesselNat::Uid(uid)); }

   // Everything up to the call that fails, with no fault set.
   void doArrange(Reach reach) {
      if (reach == Reach::commitWarm) {
         warmGroups->unboundedEntryManagerIs(
             TcamGroupConfig{Tessel::natTcamGroupAssignment, natGroup, 48, 2, 2});
      }
      if (reach == Reach::initialize) scsd->flashDownloadWaitIs(natFlashDownload, false);
      programmer = NatTest::programmerOn(*entityManager, statusDir, module,
                                         reach == Reach::commitWarm ? warmGroups : groups, scsd);
      if (reach == Reach::updateStaticSrc || reach == Reach::removeStaticSrc) {
         publish(uid, NatTest::staticSrcNapt(), {.protocol = 6});
         commit();
      }
   }
   // What makes the call.
   void doAct(Reach reach) {
      switch (reach) {
         case Reach::commitStaticSrc:
         case Reach::commitWarm:
            publish(uid, NatTest::staticSrcNapt(), {.protocol = 6});
            return commit();
         case Reach::commitStaticDest:
            publish(uid, NatTest::staticDestNapt(), {.vlans = {10}});
            return commit();
         case Reach::commitDynamicTcp:
            publish(uid, NatTest::dynamicSrc(6), {});
            return commit();
         case Reach::updateStaticSrc:
            publish(uid, NatTest::staticSrcNapt(), {.protocol = 17});
            return commit();
         case Reach::removeStaticSrc:
            controlPlane.ruleRemovalIs(TesselNat::Uid(uid));
            return commit();
         case Reach::initialize:
            return scsd->flashDownloadWaitIs(natFlashDownload, true);
      }
   }

   Kiv::Ptr<TesselTcamGroupManager> warmGroups =
       new TesselTcamGroupManager(64, Start::warm, {module});
   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer;
};

TEST_P(SdkFailureDeathTest, StopsTheAgentWithTheCallSiteLine) {
   const CallSite& site = GetParam();
   doArrange(site.reach);
   Kiv::assertionHandlerIs(nullptr);
   const std::string file = literal(site.file);
   EXPECT_DEATH(
       {
          Shim::sdk_.faultInjector().failNthCallIs(site.operation, 1,
                                                   Shim::code(Shim::SdkError::tableFull));
          doAct(site.reach);
       },
       file + ":[0-9]+ " + literal(site.call) + " API ERROR:Table full \\(-25\\)\n[^\n]*" + file +
           ":[0-9]+: " + literal(site.signature) + ": Assertion `0' failed\\.\n");
}

INSTANTIATE_TEST_SUITE_P(CallSiteFamilies, SdkFailureDeathTest, ::testing::ValuesIn(callSites),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

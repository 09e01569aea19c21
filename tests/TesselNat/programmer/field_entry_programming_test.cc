#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/programmer_fixture.h"

namespace {

using NatTest::DataFields;
using NatTest::ep;
using NatTest::natData;
using NatTest::natKey;
using K = Ember::NatKeyType;

// The SDK calls a field entry can be written with, by the names the cases use.
const std::map<std::string, std::string> callText = {
    {"Q1", "bcm_field_qualify_SrcIp( unit(), entryId, hwKey.srcIpAndPortOld().ip().value(), -1 )"},
    {"Q2",
     "bcm_field_qualify_SrcIp( unit(), entryId, shadowData.filterAddr().address().value(), "
     "shadowData.filterAddr().mask() )"},
    {"Q3", "bcm_field_qualify_DstIp( unit(), entryId, hwKey.dstIpAndPortOld().ip().value(), -1 )"},
    {"Q4",
     "bcm_field_qualify_DstIp( unit(), entryId, shadowData.filterAddr().address().value(), "
     "shadowData.filterAddr().mask() )"},
    {"Q5", "bcm_field_qualify_L4SrcPort( unit(), entryId, hwKey.srcIpAndPortOld().port(), -1 )"},
    {"Q6", "bcm_field_qualify_L4DstPort( unit(), entryId, hwKey.dstIpAndPortOld().port(), -1 )"},
    {"Q7", "bcm_field_qualify_L3Ingress( unit(), entryId, vlanId, -1 )"},
    {"Q8", "bcm_field_qualify_IpFrag( unit(), entryId, bcmFieldIpFragAny )"},
    {"Q9",
     "bcm_field_qualify_IpProtocol( unit(), entryId, shadowData.protocol(), "
     "TCAM_FIELD_IPPROTO_MASK )"},
    {"D1",
     "bcm_field_qualify_IpProtocol( unit(), entryId, hwKey.dynProto(), "
     "TCAM_FIELD_IPPROTO_MASK )"},
    {"D2", "bcm_field_qualify_TcpControl( unit(), entryId, 0, TCAM_FIELD_TCP_CONTROL_MASK )"},
    {"R", "bcm_field_action_remove_all( unit(), entryId )"},
    {"A1",
     "bcm_field_action_add( unit(), entryId, bcmFieldActionAssignExtractionCtrlId, "
     "extractionCtrlId, 0x1f )"},
    {"A2", "bcm_field_action_add( unit(), entryId, bcmFieldActionAssignOpaqueObject1, uid, 0 )"},
    {"A3", "bcm_field_action_add( unit(), entryId, bcmFieldActionCopyToCpuCancel, 0, 0 )"},
    {"A4", "bcm_field_action_add( unit(), entryId, bcmFieldActionDropCancel, 0, 0 )"},
    {"A5", "bcm_field_action_add( unit(), entryId, bcmFieldActionL3Switch, nextHopId, 0 )"},
    {"A6", "bcm_field_action_add( unit(), entryId, bcmFieldActionDrop, 0, 0 )"},
    {"install", "bcm_field_entry_install( unit, entryId )"},
    {"reinstall", "bcm_field_entry_reinstall( unit, entryId )"},
};

constexpr U64 multipath = 0x8000000;

struct EntryCase {
   const char* name;
   Ember::NatHwKey key;
   DataFields data;
   DataFields data0;  // the rule's base data
   U16 vlanId;
   bool frag;
   bool reinstall;
   std::vector<std::string> calls;
   U32 extractionCtrlId;
   U32 l3SwitchId;  // 0: no L3 switch action
};

const Ember::NatHwKey srcNat = natKey({K::staticSrcNat, ep("10.0.0.1"), ep("192.0.2.1")});
const Ember::NatHwKey srcNapt = NatTest::staticSrcNapt();
const Ember::NatHwKey dstNapt = NatTest::staticDestNapt();
const Ember::NatHwKey twiceSrc = NatTest::twiceSrcNapt();
const Ember::NatHwKey twiceDst = NatTest::twiceDestNapt();

const DataFields plain{};
const DataFields withFilter{.filter = {Netbase::IpAddr("10.1.2.0"), 0xFFFFFF00}};
const DataFields drop{.nextHop = 0};
const DataFields nextHop5{.nextHop = 5};
const DataFields nextHop7{.nextHop = 7};
const DataFields multipath9{.nextHop = multipath | 9};
const DataFields multipath42{.nextHop = multipath | 42};
const DataFields tcp{.protocol = 6};
const DataFields udpBase{.protocol = 17, .vlans = {10}};
const DataFields vlan10{.vlans = {10}};

// clang-format off
const std::vector<EntryCase> entryCases = {
    {"SrcNatWithoutPorts", srcNat, plain, plain, 0, false, false, {"Q1", "A1", "A2", "install"}, 20, 0},
    {"SrcNaptDefault", srcNapt, plain, plain, 0, false, false, {"Q1", "Q5", "A1", "A2", "install"}, 21, 0},
    {"SrcNaptFragment", srcNapt, plain, plain, 0, true, false, {"Q1", "Q8", "A1", "A2", "install"}, 20, 0},
    {"SrcNatWithDestinationFilter", srcNat, withFilter, plain, 0, false, false, {"Q1", "Q4", "A1", "A2", "install"}, 20, 0},
    {"SrcNatReinstallRemovesActionsFirst", srcNat, plain, plain, 0, false, true, {"R", "Q1", "A1", "A2", "reinstall"}, 20, 0},
    {"ProtocolDecidedByBaseDataWrittenFromOwn", srcNat, tcp, udpBase, 0, false, false, {"Q1", "Q9", "A1", "A2", "install"}, 20, 0},
    {"NoProtocolWhenBaseDataHasNone", srcNat, tcp, plain, 0, false, false, {"Q1", "A1", "A2", "install"}, 20, 0},
    {"DstNaptDropsOnNextHopZero", dstNapt, drop, drop, 10, false, false, {"Q7", "Q3", "Q6", "A1", "A2", "A3", "A6", "install"}, 17, 0},
    {"DstNaptLeavesForwardingOnAllOnes", dstNapt, plain, plain, 10, false, false, {"Q7", "Q3", "Q6", "A1", "A2", "A3", "install"}, 17, 0},
    {"DstNaptSwitchesToPlainNextHop", dstNapt, nextHop5, nextHop5, 10, false, false, {"Q7", "Q3", "Q6", "A1", "A2", "A3", "A4", "A5", "install"}, 17, 100005},
    {"DstNaptSwitchesToMultipathNextHop", dstNapt, multipath9, multipath42, 10, false, false, {"Q7", "Q3", "Q6", "A1", "A2", "A3", "A4", "A5", "install"}, 17, 200042},
    {"DstNaptReinstallRemovesActionsAfterQualifiers", dstNapt, plain, plain, 10, false, true, {"Q7", "Q3", "Q6", "R", "A1", "A2", "A3", "reinstall"}, 17, 0},
    {"DstNaptWithSourceFilter", dstNapt, withFilter, plain, 10, false, false, {"Q7", "Q2", "Q3", "Q6", "A1", "A2", "A3", "install"}, 17, 0},
    {"DstNaptFragment", dstNapt, plain, plain, 10, true, false, {"Q7", "Q3", "Q8", "A1", "A2", "A3", "install"}, 16, 0},
    {"TwiceSrcLeavesForwardingOnAllOnes", twiceSrc, plain, plain, 0, false, false, {"Q1", "Q5", "Q3", "Q6", "A1", "A2", "install"}, 23, 0},
    {"TwiceSrcSwitchesBeforeItsProfile", twiceSrc, nextHop7, nextHop7, 0, false, false, {"Q1", "Q5", "Q3", "Q6", "A3", "A4", "A5", "A1", "A2", "install"}, 23, 100007},
    {"TwiceSrcDropsOnNextHopZero", twiceSrc, drop, drop, 0, false, false, {"Q1", "Q5", "Q3", "Q6", "A6", "A1", "A2", "install"}, 23, 0},
    {"TwiceSrcFragment", twiceSrc, plain, plain, 0, true, false, {"Q1", "Q3", "Q8", "A1", "A2", "install"}, 22, 0},
    {"TwiceDstDefault", twiceDst, plain, plain, 20, false, false, {"Q7", "Q1", "Q5", "Q3", "Q6", "A1", "A2", "A3", "install"}, 19, 0},
    {"TwiceDstFragment", twiceDst, plain, plain, 20, true, false, {"Q7", "Q1", "Q3", "Q8", "A1", "A2", "A3", "install"}, 18, 0},
    {"DynamicSrcUdpDefault", NatTest::dynamicSrc(17), plain, plain, 0, false, false, {"Q1", "Q3", "D1", "Q5", "Q6", "A2", "A3", "A1", "A4", "install"}, 21, 0},
    {"DynamicSrcUdpFragment", NatTest::dynamicSrc(17), plain, plain, 0, true, false, {"Q1", "Q3", "D1", "Q8", "A2", "A3", "A1", "A4", "install"}, 20, 0},
    {"DynamicSrcTcpChecksFlags", NatTest::dynamicSrc(6), plain, plain, 0, false, false, {"Q1", "Q3", "D1", "Q5", "Q6", "D2", "A2", "A3", "A1", "A4", "install"}, 21, 0},
    {"DynamicDstSwitchesToNextHop", NatTest::dynamicDest(17), nextHop7, {.nextHop = 7, .vlans = {10}}, 10, false, false, {"Q1", "Q3", "D1", "Q5", "Q6", "A2", "A3", "A1", "A4", "A5", "install"}, 17, 100007},
    {"DynamicDstAddsNothingOnNextHopZero", NatTest::dynamicDest(17), drop, vlan10, 10, false, false, {"Q1", "Q3", "D1", "Q5", "Q6", "A2", "A3", "A1", "install"}, 17, 0},
    {"DynamicDstTcpFragmentReinstall", NatTest::dynamicDest(6), plain, vlan10, 10, true, true, {"Q1", "Q3", "D1", "Q8", "D2", "R", "A2", "A3", "A1", "reinstall"}, 16, 0},
};
// clang-format on

class FieldEntryProgrammingTest : public NatTest::ProgrammerFixture,
                                  public ::testing::WithParamInterface<EntryCase> {
protected:
   static constexpr U32 uid = 7;

   // Writes the case's entry (first as new when the case reinstalls) and returns its id.
   U32 program(const EntryCase& c) {
      const U32 entryId = natEntryManager->getEntry(module, "NAT");
      if (c.reinstall) write(c, entryId, false);
      sdkCallsClear();
      write(c, entryId, c.reinstall);
      return entryId;
   }

   void write(const EntryCase& c, U32 entryId, bool reinstall) {
      programmer->doProgramEntry(entryId, reinstall, c.frag, c.key, natData(c.data), c.key,
                                 natData(c.data0), c.vlanId, uid);
   }

   std::vector<std::string> expectedCalls(const EntryCase& c) const {
      std::vector<std::string> texts;
      for (const std::string& name : c.calls) texts.push_back(callText.at(name));
      return texts;
   }

   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = newProgrammer();
};

TEST_P(FieldEntryProgrammingTest, WritesExactlyTheCallsOfItsTypeInOrder) {
   const EntryCase& c = GetParam();
   const U32 entryId = program(c);
   EXPECT_EQ(sdkCalls(), expectedCalls(c));

   const auto entry = chip_.entry(module, entryId);
   ASSERT_TRUE(entry);
   EXPECT_EQ(entry->installState(), Chip::InstallState::installed);
   const Chip::ActionList& actions = entry->actions();
   const Shim::Sdk& sdk = Shim::sdk_;
   const auto* profile = actions.find(sdk.bcmFieldActionAssignExtractionCtrlId());
   ASSERT_TRUE(profile);
   EXPECT_EQ(profile->param0, c.extractionCtrlId);
   EXPECT_EQ(profile->param1, 0x1fu);
   const auto* opaque = actions.find(sdk.bcmFieldActionAssignOpaqueObject1());
   ASSERT_TRUE(opaque);
   EXPECT_EQ(opaque->param0, uid);
   const auto* l3Switch = actions.find(sdk.bcmFieldActionL3Switch());
   EXPECT_EQ(l3Switch ? l3Switch->param0 : 0u, c.l3SwitchId);
   // Every action the sequence added, and only those: a removal after the adds would leave
   // none, a missing removal would keep stale ones.
   const auto adds = std::count_if(c.calls.begin(), c.calls.end(),
                                   [](const std::string& call) { return call[0] == 'A'; });
   EXPECT_EQ(static_cast<long>(actions.items().size()), adds);
}

INSTANTIATE_TEST_SUITE_P(AllKeyTypes, FieldEntryProgrammingTest, ::testing::ValuesIn(entryCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

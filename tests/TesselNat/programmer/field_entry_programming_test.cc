#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <optional>
#include <sstream>
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
// clang-format off
const std::map<std::string, std::string> callText = {
    {"Q1", "bcm_field_qualify_SrcIp( unit(), entryId, hwKey.srcIpAndPortOld().ip().value(), -1 )"},
    {"Q2", "bcm_field_qualify_SrcIp( unit(), entryId, shadowData.filterAddr().address().value(), shadowData.filterAddr().mask() )"},
    {"Q3", "bcm_field_qualify_DstIp( unit(), entryId, hwKey.dstIpAndPortOld().ip().value(), -1 )"},
    {"Q4", "bcm_field_qualify_DstIp( unit(), entryId, shadowData.filterAddr().address().value(), shadowData.filterAddr().mask() )"},
    {"Q5", "bcm_field_qualify_L4SrcPort( unit(), entryId, hwKey.srcIpAndPortOld().port(), -1 )"},
    {"Q6", "bcm_field_qualify_L4DstPort( unit(), entryId, hwKey.dstIpAndPortOld().port(), -1 )"},
    {"Q7", "bcm_field_qualify_L3Ingress( unit(), entryId, vlanId, -1 )"},
    {"Q8", "bcm_field_qualify_IpFrag( unit(), entryId, bcmFieldIpFragAny )"},
    {"Q9", "bcm_field_qualify_IpProtocol( unit(), entryId, shadowData.protocol(), TCAM_FIELD_IPPROTO_MASK )"},
    {"D1", "bcm_field_qualify_IpProtocol( unit(), entryId, hwKey.dynProto(), TCAM_FIELD_IPPROTO_MASK )"},
    {"D2", "bcm_field_qualify_TcpControl( unit(), entryId, 0, TCAM_FIELD_TCP_CONTROL_MASK )"},
    {"R", "bcm_field_action_remove_all( unit(), entryId )"},
    {"A1", "bcm_field_action_add( unit(), entryId, bcmFieldActionAssignExtractionCtrlId, extractionCtrlId, 0x1f )"},
    {"A2", "bcm_field_action_add( unit(), entryId, bcmFieldActionAssignOpaqueObject1, uid, 0 )"},
    {"A3", "bcm_field_action_add( unit(), entryId, bcmFieldActionCopyToCpuCancel, 0, 0 )"},
    {"A4", "bcm_field_action_add( unit(), entryId, bcmFieldActionDropCancel, 0, 0 )"},
    {"A5", "bcm_field_action_add( unit(), entryId, bcmFieldActionL3Switch, nextHopId, 0 )"},
    {"A6", "bcm_field_action_add( unit(), entryId, bcmFieldActionDrop, 0, 0 )"},
    {"install", "bcm_field_entry_install( unit, entryId )"},
    {"reinstall", "bcm_field_entry_reinstall( unit, entryId )"},
};
// clang-format on

constexpr U64 multipath = 0x8000000;

// One field entry written through doProgramEntry: the calls it takes, by the names above and
// in order, and the action values the chip must hold afterwards. Qualifier values are read
// from the key and data the calls name.
struct EntryCase {
   const char* name;
   Ember::NatHwKey key;
   Ember::NatHwData data;
   Ember::NatHwData data0;  // the rule's base data
   U16 vlanId;
   bool frag;
   bool reinstall;
   const char* calls;  // names separated by blanks
   U32 extractionCtrlId;
   U32 l3SwitchId;
};

void PrintTo(const EntryCase& c, std::ostream* out) { *out << c.name; }

const Ember::NatHwKey srcNat = natKey({K::staticSrcNat, ep("10.0.0.1"), ep("192.0.2.1")});
const Ember::NatHwKey srcNapt = NatTest::staticSrcNapt();
const Ember::NatHwKey dstNapt = NatTest::staticDestNapt();
const Ember::NatHwKey twiceSrc = NatTest::twiceSrcNapt();
const Ember::NatHwKey twiceDst = NatTest::twiceDestNapt();
// Twice keys that translate the port of one side only: the profile follows the deciding side.
const Ember::NatHwKey twiceSrcSourcePortOnly =
    natKey({K::twiceSrcNat, ep("10.0.0.1", 1000), ep("192.0.2.1", 2000), ep("198.51.100.7", 53),
            ep("198.51.100.8")});
const Ember::NatHwKey twiceDstDestinationPortOnly =
    natKey({K::twiceDestNat, ep("198.51.100.7", 1000), ep("198.51.100.9"), ep("203.0.113.5", 80),
            ep("10.0.0.5", 8080)});
const Ember::NatHwKey flowFromPortZero =
    natKey({K::dynamicSrcNat, ep("10.0.0.1", 0), ep("192.0.2.1", 3000), ep("8.8.8.8", 53),
            ep("8.8.8.8", 53), 17});

// Data with at most one VLAN, built without a vector: GCC 12 at -O3 reports false
// use-after-free and uninitialised reads on vectors in static tables.
Ember::NatHwData data(U64 nextHop, U8 protocol = 0, U16 vlan = 0,
                      Netbase::IpAddrWithFullMask filter = {}) {
   Ember::NatHwData data(protocol, filter, 1, nextHop);
   data.vlanIdsIs(vlan ? 1 : 0, {&vlan, 1});
   return data;
}

constexpr U64 allOnes = ~U64{0};
const Ember::NatHwData plain = data(allOnes);
const Ember::NatHwData withFilter = data(allOnes, 0, 0, {Netbase::IpAddr("10.1.2.0"), 0xFFFFFF00});
const Ember::NatHwData drop = data(0);
const Ember::NatHwData nextHop5 = data(5);
const Ember::NatHwData nextHop7 = data(7);
const Ember::NatHwData multipath9 = data(multipath | 9);
const Ember::NatHwData multipath42 = data(multipath | 42);
const Ember::NatHwData tcp = data(allOnes, 6);
const Ember::NatHwData udpBase = data(allOnes, 17, 10);
const Ember::NatHwData vlan10 = data(allOnes, 0, 10);
const Ember::NatHwData nextHop7Vlan10 = data(7, 0, 10);

// clang-format off
const EntryCase entryCases[] = {
    {"SrcNatWithoutPorts", srcNat, plain, plain, 0, false, false, "Q1 A1 A2 install", 20, 0},
    {"SrcNaptDefault", srcNapt, plain, plain, 0, false, false, "Q1 Q5 A1 A2 install", 21, 0},
    {"SrcNaptFragment", srcNapt, plain, plain, 0, true, false, "Q1 Q8 A1 A2 install", 20, 0},
    {"SrcNaptFragmentWithProtocol", srcNapt, tcp, tcp, 0, true, false, "Q1 Q8 Q9 A1 A2 install", 20, 0},
    {"SrcNatWithDestinationFilter", srcNat, withFilter, plain, 0, false, false, "Q1 Q4 A1 A2 install", 20, 0},
    {"SrcNatReinstallRemovesActionsFirst", srcNat, plain, plain, 0, false, true, "R Q1 A1 A2 reinstall", 20, 0},
    {"ProtocolDecidedByBaseDataWrittenFromOwn", srcNat, tcp, udpBase, 0, false, false, "Q1 Q9 A1 A2 install", 20, 0},
    {"NoProtocolWhenBaseDataHasNone", srcNat, tcp, plain, 0, false, false, "Q1 A1 A2 install", 20, 0},
    {"DstNaptDropsOnNextHopZero", dstNapt, drop, drop, 10, false, false, "Q7 Q3 Q6 A1 A2 A3 A6 install", 17, 0},
    {"DstNaptLeavesForwardingOnAllOnes", dstNapt, plain, plain, 10, false, false, "Q7 Q3 Q6 A1 A2 A3 install", 17, 0},
    {"DstNaptSwitchesToPlainNextHop", dstNapt, nextHop5, nextHop5, 10, false, false, "Q7 Q3 Q6 A1 A2 A3 A4 A5 install", 17, 100005},
    {"DstNaptSwitchesToMultipathNextHop", dstNapt, multipath9, multipath42, 10, false, false, "Q7 Q3 Q6 A1 A2 A3 A4 A5 install", 17, 200042},
    {"DstNaptForwardsByOwnNextHopToTheBaseId", dstNapt, nextHop5, drop, 10, false, false, "Q7 Q3 Q6 A1 A2 A3 A4 A5 install", 17, 100000},
    {"DstNaptWithProtocol", dstNapt, tcp, tcp, 10, false, false, "Q7 Q3 Q6 Q9 A1 A2 A3 install", 17, 0},
    {"DstNaptReinstallRemovesActionsAfterQualifiers", dstNapt, plain, plain, 10, false, true, "Q7 Q3 Q6 R A1 A2 A3 reinstall", 17, 0},
    {"DstNaptWithSourceFilter", dstNapt, withFilter, plain, 10, false, false, "Q7 Q2 Q3 Q6 A1 A2 A3 install", 17, 0},
    {"DstNaptFragment", dstNapt, plain, plain, 10, true, false, "Q7 Q3 Q8 A1 A2 A3 install", 16, 0},
    {"TwiceSrcLeavesForwardingOnAllOnes", twiceSrc, plain, plain, 0, false, false, "Q1 Q5 Q3 Q6 A1 A2 install", 23, 0},
    {"TwiceSrcSwitchesBeforeItsProfile", twiceSrc, nextHop7, nextHop7, 0, false, false, "Q1 Q5 Q3 Q6 A3 A4 A5 A1 A2 install", 23, 100007},
    {"TwiceSrcDropsOnNextHopZero", twiceSrc, drop, drop, 0, false, false, "Q1 Q5 Q3 Q6 A6 A1 A2 install", 23, 0},
    {"TwiceSrcFragment", twiceSrc, plain, plain, 0, true, false, "Q1 Q3 Q8 A1 A2 install", 22, 0},
    {"TwiceSrcSourcePortOnlyTakesThePortlessProfile", twiceSrcSourcePortOnly, plain, plain, 0, false, false, "Q1 Q5 Q3 Q6 A1 A2 install", 22, 0},
    {"TwiceDstDefault", twiceDst, plain, plain, 20, false, false, "Q7 Q1 Q5 Q3 Q6 A1 A2 A3 install", 19, 0},
    {"TwiceDstFragment", twiceDst, plain, plain, 20, true, false, "Q7 Q1 Q3 Q8 A1 A2 A3 install", 18, 0},
    {"TwiceDstDestinationPortOnlyTakesThePortlessProfile", twiceDstDestinationPortOnly, plain, plain, 20, false, false, "Q7 Q1 Q5 Q3 Q6 A1 A2 A3 install", 18, 0},
    {"DynamicSrcUdpDefault", NatTest::dynamicSrc(17), plain, plain, 0, false, false, "Q1 Q3 D1 Q5 Q6 A2 A3 A1 A4 install", 21, 0},
    {"DynamicSrcUdpFragment", NatTest::dynamicSrc(17), plain, plain, 0, true, false, "Q1 Q3 D1 Q8 A2 A3 A1 A4 install", 20, 0},
    {"DynamicSrcTcpChecksFlags", NatTest::dynamicSrc(6), plain, plain, 0, false, false, "Q1 Q3 D1 Q5 Q6 D2 A2 A3 A1 A4 install", 21, 0},
    {"DynamicSrcFromPortZeroMatchesPortZero", flowFromPortZero, plain, plain, 0, false, false, "Q1 Q3 D1 Q5 Q6 A2 A3 A1 A4 install", 21, 0},
    {"DynamicDstSwitchesToNextHop", NatTest::dynamicDest(17), nextHop7, nextHop7Vlan10, 10, false, false, "Q1 Q3 D1 Q5 Q6 A2 A3 A1 A4 A5 install", 17, 100007},
    {"DynamicDstAddsNothingOnNextHopZero", NatTest::dynamicDest(17), drop, vlan10, 10, false, false, "Q1 Q3 D1 Q5 Q6 A2 A3 A1 install", 17, 0},
    {"DynamicDstTcpFragmentReinstall", NatTest::dynamicDest(6), plain, vlan10, 10, true, true, "Q1 Q3 D1 Q8 D2 R A2 A3 A1 reinstall", 16, 0},
};
// clang-format on

std::vector<std::string> callNames(const EntryCase& c) {
   std::istringstream in(c.calls);
   return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// Field entries written through doProgramEntry for module 1.
class FieldEntryTest : public NatTest::ProgrammerFixture {
protected:
   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = newProgrammer();
};

class FieldEntryProgrammingTest : public FieldEntryTest,
                                  public ::testing::WithParamInterface<EntryCase> {
protected:
   static constexpr U32 uid = 7;
   static constexpr U32 exactMask = 0xFFFFFFFF;

   // Writes the case's entry (first as new when the case reinstalls) and returns its id.
   U32 program(const EntryCase& c) {
      const U32 entryId = natEntryManager->getEntry(module, "NAT");
      if (c.reinstall) write(c, entryId, false);
      sdkCallsClear();
      write(c, entryId, c.reinstall);
      return entryId;
   }

   void write(const EntryCase& c, U32 entryId, bool reinstall) {
      programmer->doProgramEntry(entryId, reinstall, c.frag, c.key, c.data, c.key, c.data0,
                                 c.vlanId, uid);
   }

   // The qualifier each call writes, as the chip must hold it at hardware width.
   static std::pair<Chip::KeyField, Chip::QualifierValue> qualifierOf(const std::string& call,
                                                                      const EntryCase& c) {
      using F = Chip::KeyField;
      const Netbase::IpAddrWithFullMask filter = c.data.filterAddr();
      if (call == "Q1") return {F::srcIp, {c.key.srcIpAndPortOld().ip().value(), exactMask}};
      if (call == "Q2") return {F::srcIp, {filter.address().value(), filter.mask()}};
      if (call == "Q3") return {F::dstIp, {c.key.dstIpAndPortOld().ip().value(), exactMask}};
      if (call == "Q4") return {F::dstIp, {filter.address().value(), filter.mask()}};
      if (call == "Q5") return {F::l4SrcPort, {c.key.srcIpAndPortOld().port(), 0xFFFF}};
      if (call == "Q6") return {F::l4DstPort, {c.key.dstIpAndPortOld().port(), 0xFFFF}};
      if (call == "Q7") return {F::l3Ingress, {c.vlanId, 0x1FFF}};
      if (call == "Q8") return {F::ipFrag, {Chip::fragIsFragment, Chip::fragIsFragment}};
      if (call == "Q9") return {F::ipProtocol, {c.data.protocol(), 0xFF}};
      if (call == "D1") return {F::ipProtocol, {c.key.dynProto(), 0xFF}};
      return {F::tcpControl, {0, 0x7}};  // D2: FIN, SYN and RST clear
   }

   // The action each call adds, with its parameters.
   static Chip::FieldActionValue actionOf(const std::string& call, const EntryCase& c) {
      const Shim::Sdk& sdk = Shim::sdk_;
      if (call == "A1")
         return {sdk.bcmFieldActionAssignExtractionCtrlId(), c.extractionCtrlId, 0x1f};
      if (call == "A2") return {sdk.bcmFieldActionAssignOpaqueObject1(), uid, 0};
      if (call == "A3") return {sdk.bcmFieldActionCopyToCpuCancel(), 0, 0};
      if (call == "A4") return {sdk.bcmFieldActionDropCancel(), 0, 0};
      if (call == "A5") return {sdk.bcmFieldActionL3Switch(), c.l3SwitchId, 0};
      return {sdk.bcmFieldActionDrop(), 0, 0};  // A6
   }
};

TEST_P(FieldEntryProgrammingTest, WritesTheCallsOfItsTypeInOrderAndTheChipHoldsTheirValues) {
   const EntryCase& c = GetParam();
   const U32 entryId = program(c);
   std::vector<std::string> texts;
   std::map<Chip::KeyField, Chip::QualifierValue> qualifiers;
   std::vector<Chip::FieldActionValue> actions;
   for (const std::string& name : callNames(c)) {
      texts.push_back(callText.at(name));
      if (name[0] == 'Q' || name[0] == 'D') qualifiers.insert(qualifierOf(name, c));
      if (name[0] == 'A') actions.push_back(actionOf(name, c));
   }
   EXPECT_EQ(sdkCalls(), texts);

   const std::optional<Chip::FieldEntry> entry = chip_.entry(module, entryId);
   ASSERT_TRUE(entry);
   EXPECT_EQ(entry->installState(), Chip::InstallState::installed);
   for (U32 f = 0; f < Chip::qualifierCount; ++f) {
      const auto field = static_cast<Chip::KeyField>(f);
      const auto wanted = qualifiers.find(field);
      EXPECT_EQ(entry->qualifier(field), wanted == qualifiers.end()
                                             ? std::nullopt
                                             : std::optional<Chip::QualifierValue>(wanted->second))
          << "qualifier " << f;
   }
   // Exactly the actions the calls added, in order: a removal after the adds would leave
   // none, a missing removal would keep stale ones.
   const auto held = entry->actions().items();
   EXPECT_EQ(std::vector<Chip::FieldActionValue>(held.begin(), held.end()), actions);
}

INSTANTIATE_TEST_SUITE_P(AllKeyTypes, FieldEntryProgrammingTest, ::testing::ValuesIn(entryCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A broken invariant stops the write with its assertion. (An SDK failure at each call site,
// and the operation its calls are traced under: sdk_failure_death_test.cc.)
TEST_F(FieldEntryTest, BrokenInvariantsStopWithTheirAssertion) {
   const U32 id = natEntryManager->getEntry(module, "NAT");
   const auto program = [&](const Ember::NatHwKey& key, const DataFields& data0, U16 vlanId) {
      programmer->doProgramEntry(id, false, false, key, natData({}), key, natData(data0), vlanId,
                                 7);
   };
   expectAssertion("vlanId", [&] { program(NatTest::staticDestNapt(), {}, 0); });
   Ember::NatHwKey unsupported = NatTest::twiceSrcNapt();
   unsupported.typeIs(static_cast<Ember::NatKeyType>(7));
   expectAssertion("0 && \"Unsupported NAT configuration\"", [&] { program(unsupported, {}, 0); });
   expectAssertion("shadowData0.vlanId( 0 )",
                   [&] { program(NatTest::dynamicDest(), {.vlans = {}}, 10); });
   Ember::NatHwKey contradictory = NatTest::staticSrcNapt();
   contradictory.dynProtoIs(6);
   expectAssertion("result == compVal && \"NatHwKey is not valid\"",
                   [&] { program(contradictory, {}, 0); });
}

}  // namespace

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/programmer_fixture.h"

namespace {

using NatTest::DataFields;
using NatTest::natData;

// What the chip holds and hits after the programmer wrote a key's entries, and how writing
// stops on a broken invariant or an SDK failure.
class FieldEntryChipTest : public NatTest::ProgrammerFixture {
protected:
   struct Entries {
      U32 defaultId;
      U32 fragId;
   };

   Entries programBoth(const Ember::NatHwKey& key, const DataFields& data, U16 vlanId) {
      const Entries ids{natEntryManager->getEntry(module, "NAT"),
                        natEntryManager->getEntry(module, "NAT")};
      programmer->doProgramEntry(ids.defaultId, false, false, key, natData(data), key,
                                 natData(data), vlanId, 7);
      programmer->doProgramEntry(ids.fragId, false, true, key, natData(data), key, natData(data),
                                 vlanId, 7);
      return ids;
   }

   std::optional<U32> hit(const Chip::Packet& packet) {
      auto match = chip_.classify(module, packet);
      return match ? std::optional<U32>(match->entryId) : std::nullopt;
   }

   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = newProgrammer();
};

TEST_F(FieldEntryChipTest, DestinationEntryMatchesItsVlanAndFragmentsGoToTheFragmentEntry) {
   const Entries ids = programBoth(NatTest::staticDestNapt(), {.vlans = {10}}, 10);
   Chip::Packet packet{.l3Ingress = 10,
                       .srcIp = Netbase::IpAddr("198.51.100.1").value(),
                       .dstIp = Netbase::IpAddr("203.0.113.5").value(),
                       .srcPort = 5555,
                       .dstPort = 80,
                       .ipProtocol = 6};
   EXPECT_EQ(hit(packet), ids.defaultId);
   packet.fragment = Chip::FragmentState::nonFirstFragment;
   EXPECT_EQ(hit(packet), ids.fragId);
   packet.fragment = Chip::FragmentState::notFragment;
   packet.l3Ingress = 20;
   EXPECT_EQ(hit(packet), std::nullopt);
   packet.l3Ingress = 10;
   packet.dstPort = 81;
   EXPECT_EQ(hit(packet), std::nullopt);
}

TEST_F(FieldEntryChipTest, QualifiersHoldKeyAndDataValuesAtHardwareWidths) {
   const auto qualifier = [&](U32 id, Chip::KeyField field) {
      return chip_.entry(module, id)->qualifier(field);
   };
   const U32 napt = natEntryManager->getEntry(module, "NAT");
   const Ember::NatHwKey srcNapt = NatTest::staticSrcNapt();
   const DataFields filtered{.protocol = 6, .filter = {Netbase::IpAddr("10.0.0.0"), 0xFFFFFF00}};
   programmer->doProgramEntry(napt, false, false, srcNapt, natData(filtered), srcNapt,
                              natData({.protocol = 17}), 0, 7);
   EXPECT_EQ(qualifier(napt, Chip::KeyField::l4SrcPort), (Chip::QualifierValue{80, 0xFFFF}));
   EXPECT_EQ(qualifier(napt, Chip::KeyField::dstIp),
             (Chip::QualifierValue{0x0A000000, 0xFFFFFF00}));
   EXPECT_EQ(qualifier(napt, Chip::KeyField::ipProtocol), (Chip::QualifierValue{6, 0xFF}));

   const U32 flow = natEntryManager->getEntry(module, "NAT");
   const Ember::NatHwKey udpFlow = NatTest::dynamicSrc(17);
   programmer->doProgramDynamicNatEntry(flow, false, false, udpFlow, natData({}), udpFlow,
                                        natData({}), 7);
   EXPECT_EQ(qualifier(flow, Chip::KeyField::ipProtocol), (Chip::QualifierValue{17, 0xFF}));
   EXPECT_EQ(qualifier(flow, Chip::KeyField::l4SrcPort), (Chip::QualifierValue{1000, 0xFFFF}));
   EXPECT_EQ(qualifier(flow, Chip::KeyField::l4DstPort), (Chip::QualifierValue{53, 0xFFFF}));
   EXPECT_FALSE(qualifier(flow, Chip::KeyField::tcpControl));

   const Entries dst = programBoth(NatTest::staticDestNapt(), {.vlans = {10}}, 10);
   EXPECT_EQ(qualifier(dst.defaultId, Chip::KeyField::l3Ingress),
             (Chip::QualifierValue{10, 0x1FFF}));
   EXPECT_EQ(qualifier(dst.defaultId, Chip::KeyField::l4DstPort),
             (Chip::QualifierValue{80, 0xFFFF}));
   EXPECT_FALSE(qualifier(dst.fragId, Chip::KeyField::l4DstPort));
}

TEST_F(FieldEntryChipTest, FilterMatchesUnderItsMaskOnly) {
   const Ember::NatHwKey key = NatTest::natKey(
       {Ember::NatKeyType::staticSrcNat, NatTest::ep("10.0.0.1"), NatTest::ep("192.0.2.1")});
   const DataFields filtered{.filter = {Netbase::IpAddr("10.1.2.0"), 0xFFFFFF00}};
   const U32 id = natEntryManager->getEntry(module, "NAT");
   programmer->doProgramEntry(id, false, false, key, natData(filtered), key, natData(filtered), 0,
                              7);
   Chip::Packet packet{.srcIp = Netbase::IpAddr("10.0.0.1").value(),
                       .dstIp = Netbase::IpAddr("10.1.2.77").value()};
   EXPECT_EQ(hit(packet), id);
   packet.dstIp = Netbase::IpAddr("10.1.3.1").value();
   EXPECT_EQ(hit(packet), std::nullopt);
}

TEST_F(FieldEntryChipTest, ReinstallReplacesTheActionsThePacketGets) {
   const Ember::NatHwKey key = NatTest::staticDestNapt();
   const U32 id = natEntryManager->getEntry(module, "NAT");
   programmer->doProgramEntry(id, false, false, key, natData({.nextHop = 0, .vlans = {10}}), key,
                              natData({.nextHop = 0, .vlans = {10}}), 10, 7);
   const DataFields forwarded{.nextHop = 5, .vlans = {10}};
   programmer->doProgramEntry(id, true, false, key, natData(forwarded), key, natData(forwarded), 10,
                              7);
   const auto match = chip_.classify(
       module, {.l3Ingress = 10, .dstIp = Netbase::IpAddr("203.0.113.5").value(), .dstPort = 80});
   ASSERT_TRUE(match);
   EXPECT_FALSE(match->actions.find(Shim::sdk_.bcmFieldActionDrop()));
   const auto* l3Switch = match->actions.find(Shim::sdk_.bcmFieldActionL3Switch());
   ASSERT_TRUE(l3Switch);
   EXPECT_EQ(l3Switch->param0, 100005u);
}

TEST_F(FieldEntryChipTest, BrokenInvariantsStopWithTheirAssertion) {
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

TEST_F(FieldEntryChipTest, SdkFailureWritesTheFailureLineAndNamesTheOperation) {
   const U32 id = natEntryManager->getEntry(module, "NAT");
   Shim::sdk_.faultInjector().failNthCallIs(Shim::Operation::actionAdd, 1, -25);
   testing::internal::CaptureStderr();
   const Ember::NatHwKey key = NatTest::staticSrcNapt();
   try {
      programmer->doProgramEntry(id, false, false, key, natData({}), key, natData({}), 0, 7);
      ADD_FAILURE() << "no assertion";
   } catch (const Kiv::AssertionFailure& failure) {
      EXPECT_EQ(failure.expression(), "0");
      EXPECT_EQ(failure.function(),
                "void Tessel::NatSlaveProgrammerSm::doProgramEntry(U32, bool, bool, const "
                "Ember::NatHwKey&, const Ember::NatHwData&, const Ember::NatHwKey&, const "
                "Ember::NatHwData&, U16, U32)");
   }
   const std::string stderrText = testing::internal::GetCapturedStderr();
   EXPECT_THAT(stderrText,
               testing::MatchesRegex(".*static_nat_entry\\.cc:[0-9]+ bcm_field_action_add\\( "
                                     "unit\\(\\), entryId, bcmFieldActionAssignExtractionCtrlId, "
                                     "extractionCtrlId, 0x1f \\) API ERROR:" +
                                     std::string(Shim::sdk_.bcm_errmsg(-25)) + " \\(-25\\)\n"));
}

TEST_F(FieldEntryChipTest, SuccessfulCallsAreTracedUnderTheWritingOperation) {
   programBoth(NatTest::dynamicSrc(), {}, 0);
   const U32 staticId = natEntryManager->getEntry(module, "NAT");
   sdkCallsClear();
   const Ember::NatHwKey key = NatTest::staticSrcNapt();
   programmer->doProgramEntry(staticId, false, false, key, natData({}), key, natData({}), 0, 7);
   std::set<std::string> functions;
   for (const Kiv::CapturedTrace& trace : traces_.messages()) {
      if (trace.facility == "ApiTessel" && trace.level == 4) functions.insert(trace.function);
   }
   EXPECT_EQ(functions, (std::set<std::string>{"doProgramDynamicNatEntry", "doProgramEntry",
                                               "getEntry", "installEntry"}));
   const Kiv::CapturedTrace& first = traces_.messages().front();
   EXPECT_THAT(first.text, testing::EndsWith(" (rc:0)"));
}

using FieldEntryChipDeathTest = FieldEntryChipTest;

TEST_F(FieldEntryChipDeathTest, SdkFailureStopsTheAgent) {
   Kiv::assertionHandlerIs(nullptr);
   const U32 id = natEntryManager->getEntry(module, "NAT");
   Shim::sdk_.faultInjector().failNthCallIs(Shim::Operation::qualifySrcIp, 1, -23);
   const Ember::NatHwKey key = NatTest::dynamicSrc();
   EXPECT_DEATH(programmer->doProgramDynamicNatEntry(id, false, false, key, natData({}), key,
                                                     natData({}), 7),
                "dynamic_nat_entry.cc:[0-9]+ bcm_field_qualify_SrcIp\\( unit\\(\\), entryId, "
                "hwKey.srcIpAndPortOld\\(\\).ip\\(\\).value\\(\\), -1 \\) API ERROR:.* \\(-23\\)");
}

}  // namespace

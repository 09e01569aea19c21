#include <gtest/gtest.h>

#include "platform/chip/simulated_chip.h"
#include "platform/sdk/return_code.h"
#include "platform/sdk/sdk_constants.h"

namespace ChipTest {
namespace {

using Chip::FragmentState;
using Chip::Packet;
using Chip::SimulatedChip;

constexpr S32 unit = 0;
constexpr U32 all = 0xFFFFFFFF;
constexpr U32 host1 = 0x0A000001;   // 10.0.0.1
constexpr U32 server = 0x08080808;  // 8.8.8.8
constexpr U8 udp = 17;

// A UDP packet 10.0.0.1:1000 -> 8.8.8.8:53 on VLAN 10, with the given fragment state.
Packet dnsQuery(FragmentState fragment = FragmentState::notFragment) {
   return Packet{.l3Ingress = 10,
                 .srcIp = host1,
                 .dstIp = server,
                 .srcPort = 1000,
                 .dstPort = 53,
                 .ipProtocol = udp,
                 .fragment = fragment};
}

Packet withSrcIp(Packet packet, U32 srcIp) {
   packet.srcIp = srcIp;
   return packet;
}

Packet withTcpFlags(Packet packet, U8 flags, FragmentState fragment = FragmentState::notFragment) {
   packet.ipProtocol = 6;
   packet.tcpFlags = flags;
   packet.fragment = fragment;
   return packet;
}

S32 fragState(Shim::FieldIpFrag state) { return static_cast<S32>(state); }

class ClassifyTest : public ::testing::Test {
protected:
   // Creates an entry at `slot` (its id is slot + 1), lets `program` write it, and installs it.
   template <class Program>
   U32 installedEntry(U32 slot, Program program) {
      const U32 entry = slot + 1;
      EXPECT_EQ(chip.bcm_field_entry_create_at(unit, 1, entry, slot), Shim::successCode);
      program(entry);
      EXPECT_EQ(chip.bcm_field_entry_install(unit, entry), Shim::successCode);
      return entry;
   }
   U32 installedEntry(U32 slot) {
      return installedEntry(slot, [](U32) {});
   }
   std::optional<U32> hit(const Packet& packet) {
      const std::optional<Chip::Match> match = chip.classify(unit, packet);
      return match ? std::optional<U32>(match->entryId) : std::nullopt;
   }

   SimulatedChip chip{SimulatedChip::Config{1, 32}};
};

struct MatchCase {
   const char* name;
   void (*program)(SimulatedChip& chip, U32 entry);
   Packet packet;
   bool hits;
};

class QualifierMatchTest : public ClassifyTest, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(QualifierMatchTest, HitsExactlyWhenEveryQualifierMatches) {
   const MatchCase& c = GetParam();
   const U32 entry = installedEntry(0, [&](U32 id) { c.program(chip, id); });
   EXPECT_EQ(hit(c.packet), c.hits ? std::optional<U32>(entry) : std::nullopt);
}

void srcIpExact(SimulatedChip& chip, U32 entry) {
   chip.bcm_field_qualify_SrcIp(unit, entry, host1, all);
}
void srcIpPrefix(SimulatedChip& chip, U32 entry) {
   chip.bcm_field_qualify_SrcIp(unit, entry, 0x0A000000, 0xFFFFFF00);
}
void vlan10(SimulatedChip& chip, U32 entry) {
   chip.bcm_field_qualify_L3Ingress(unit, entry, 10, all);
}
void dstPort53(SimulatedChip& chip, U32 entry) {
   chip.bcm_field_qualify_L4DstPort(unit, entry, 53, all);
}
void srcPort0(SimulatedChip& chip, U32 entry) {
   chip.bcm_field_qualify_L4SrcPort(unit, entry, 0, all);
}
void anyFragment(SimulatedChip& chip, U32 entry) {
   chip.bcm_field_qualify_IpFrag(unit, entry, fragState(Shim::FieldIpFrag::anyFragment));
}
void firstFragment(SimulatedChip& chip, U32 entry) {
   chip.bcm_field_qualify_IpFrag(unit, entry, fragState(Shim::FieldIpFrag::firstFragment));
}
void finSynRstClear(SimulatedChip& chip, U32 entry) {
   chip.bcm_field_qualify_TcpControl(unit, entry, 0, 0x7);
}
void protocolUdp(SimulatedChip& chip, U32 entry) {
   chip.bcm_field_qualify_IpProtocol(unit, entry, udp, 0xFF);
}
void nothing(SimulatedChip&, U32) {}

constexpr U8 ack = Chip::tcpAck;
constexpr U8 syn = Chip::tcpSyn;
constexpr FragmentState first = FragmentState::firstFragment;
constexpr FragmentState nonFirst = FragmentState::nonFirstFragment;

INSTANTIATE_TEST_SUITE_P(
    Qualifiers, QualifierMatchTest,
    ::testing::Values(
        MatchCase{"SrcIpExactHit", srcIpExact, dnsQuery(), true},
        MatchCase{"SrcIpExactMiss", srcIpExact, withSrcIp(dnsQuery(), 0x0A000002), false},
        MatchCase{"SrcIpPrefixHit", srcIpPrefix, withSrcIp(dnsQuery(), 0x0A00004D), true},
        MatchCase{"SrcIpPrefixMiss", srcIpPrefix, withSrcIp(dnsQuery(), 0x0A000101), false},
        MatchCase{"L3IngressHit", vlan10, dnsQuery(), true},
        MatchCase{"L3IngressMiss", vlan10, Packet{.l3Ingress = 20}, false},
        MatchCase{"PortOnUnfragmented", dstPort53, dnsQuery(), true},
        MatchCase{"PortOnFirstFragment", dstPort53, dnsQuery(first), true},
        MatchCase{"PortNeverOnNonFirstFragment", dstPort53, dnsQuery(nonFirst), false},
        MatchCase{"PortZeroNeverOnNonFirstFragment", srcPort0, Packet{.fragment = nonFirst}, false},
        MatchCase{"AnyFragmentOnFirst", anyFragment, dnsQuery(first), true},
        MatchCase{"AnyFragmentOnNonFirst", anyFragment, dnsQuery(nonFirst), true},
        MatchCase{"AnyFragmentNotOnWholePacket", anyFragment, dnsQuery(), false},
        MatchCase{"FirstFragmentNotOnNonFirst", firstFragment, dnsQuery(nonFirst), false},
        MatchCase{"TcpFlagsClearOnAck", finSynRstClear, withTcpFlags(dnsQuery(), ack), true},
        MatchCase{"TcpFlagsClearNotOnSyn", finSynRstClear, withTcpFlags(dnsQuery(), syn | ack),
                  false},
        MatchCase{"TcpFlagsUnreadInNonFirstFragment", finSynRstClear,
                  withTcpFlags(dnsQuery(), syn, nonFirst), true},
        MatchCase{"ProtocolHit", protocolUdp, dnsQuery(), true},
        MatchCase{"ProtocolMiss", protocolUdp, withTcpFlags(dnsQuery(), ack), false},
        MatchCase{"NoQualifierMatchesAll", nothing, Packet{}, true}),
    [](const auto& info) { return info.param.name; });

TEST_F(ClassifyTest, LowerSlotWinsWhateverTheCreationOrder) {
   const U32 later = installedEntry(6);
   const U32 earlier = installedEntry(2);
   EXPECT_EQ(hit(dnsQuery()), earlier);
   ASSERT_EQ(chip.bcm_field_entry_destroy(unit, earlier), Shim::successCode);
   EXPECT_EQ(hit(dnsQuery()), later);
}

TEST_F(ClassifyTest, EntryMatchesNothingUntilInstalled) {
   ASSERT_EQ(chip.bcm_field_entry_create_at(unit, 1, 1, 0), Shim::successCode);
   EXPECT_EQ(hit(dnsQuery()), std::nullopt);
   const U32 installed = installedEntry(1);
   EXPECT_EQ(hit(dnsQuery()), installed);
}

TEST_F(ClassifyTest, ChangedEntryClassifiesWithItsInstalledContentUntilReinstalled) {
   const S32 drop = static_cast<S32>(Shim::FieldAction::drop);
   const U32 entry = installedEntry(0, [&](U32 id) {
      chip.bcm_field_qualify_SrcIp(unit, id, host1, all);
      chip.bcm_field_action_add(unit, id, drop, 0, 0);
   });
   chip.bcm_field_qualify_SrcIp(unit, entry, 0x0A000002, all);
   chip.bcm_field_action_remove_all(unit, entry);
   const std::optional<Chip::Match> stale = chip.classify(unit, dnsQuery());
   ASSERT_TRUE(stale);
   EXPECT_TRUE(stale->actions.find(drop));
   ASSERT_EQ(chip.bcm_field_entry_reinstall(unit, entry), Shim::successCode);
   EXPECT_EQ(hit(dnsQuery()), std::nullopt);
   const std::optional<Chip::Match> fresh = chip.classify(unit, withSrcIp(dnsQuery(), 0x0A000002));
   ASSERT_TRUE(fresh);
   EXPECT_TRUE(fresh->actions.items().empty());
}

TEST_F(ClassifyTest, HitCountsPacketsClassifiedToTheEntry) {
   const U32 dns = installedEntry(0, [&](U32 id) { dstPort53(chip, id); });
   const U32 rest = installedEntry(1);
   chip.classify(unit, dnsQuery());
   chip.classify(unit, dnsQuery(first));
   chip.classify(unit, dnsQuery(nonFirst));
   EXPECT_EQ(chip.hitCount(unit, dns), 2u);
   EXPECT_EQ(chip.hitCount(unit, rest), 1u);
   ASSERT_EQ(chip.bcm_field_entry_reinstall(unit, dns), Shim::successCode);
   EXPECT_EQ(chip.hitCount(unit, dns), 2u) << "a reinstall keeps the count";
}

// Why NAT writes a fragment entry beside each default entry: the default entry's ports cannot
// match a non-first fragment, so the flow's other fragments need an entry without ports.
TEST_F(ClassifyTest, NonFirstFragmentsOfAFlowFallThroughToTheFragmentEntry) {
   const S32 extraction = static_cast<S32>(Shim::FieldAction::assignExtractionCtrlId);
   const auto flow = [&](U32 id) {
      chip.bcm_field_qualify_SrcIp(unit, id, host1, all);
      chip.bcm_field_qualify_DstIp(unit, id, server, all);
      protocolUdp(chip, id);
   };
   installedEntry(0, [&](U32 id) {
      flow(id);
      chip.bcm_field_qualify_L4SrcPort(unit, id, 1000, all);
      dstPort53(chip, id);
      chip.bcm_field_action_add(unit, id, extraction, 21, 0x1F);
   });
   installedEntry(1, [&](U32 id) {
      flow(id);
      anyFragment(chip, id);
      chip.bcm_field_action_add(unit, id, extraction, 20, 0x1F);
   });
   const auto profile = [&](FragmentState fragment) {
      return chip.classify(unit, dnsQuery(fragment))->actions.find(extraction)->param0;
   };
   EXPECT_EQ(profile(FragmentState::notFragment), 21u);
   EXPECT_EQ(profile(first), 21u);
   EXPECT_EQ(profile(nonFirst), 20u);
}

}  // namespace
}  // namespace ChipTest

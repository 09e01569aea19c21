#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "platform/switch/chip/simulated_chip.h"
#include "platform/switch/sdk/return_code.h"
#include "platform/switch/sdk/sdk_constants.h"

namespace ChipTest {
namespace {

using Chip::FragmentState;
using Chip::Packet;
using Chip::SimulatedChip;
using Shim::SdkError;

constexpr S32 unit = 0;
constexpr U32 all = 0xFFFFFFFF;
constexpr FragmentState first = FragmentState::firstFragment;
constexpr FragmentState nonFirst = FragmentState::nonFirstFragment;
const S32 drop = static_cast<S32>(Shim::FieldAction::drop);

// A UDP packet 10.0.0.1:1000 -> 8.8.8.8:53 on VLAN 10, or with another source address.
Packet dnsQuery(FragmentState fragment = FragmentState::notFragment, U32 srcIp = 0x0A000001) {
   return Packet{.l3Ingress = 10,
                 .srcIp = srcIp,
                 .dstIp = 0x08080808,
                 .srcPort = 1000,
                 .dstPort = 53,
                 .ipProtocol = 17,
                 .fragment = fragment};
}

// The same packet over TCP with control `flags`.
Packet tcp(U8 flags, FragmentState fragment = FragmentState::notFragment) {
   Packet packet = dnsQuery(fragment);
   packet.ipProtocol = 6;
   packet.tcpFlags = flags;
   return packet;
}

// The field processor of a one-unit chip of 32 slots, through its SDK calls.
class FieldProcessorTest : public ::testing::Test {
protected:
   // Creates an entry at `slot` (its id is slot + 1), lets `program` write it, and installs it.
   U32 installedEntry(U32 slot, const std::function<void(U32)>& program = nullptr) {
      const U32 entry = slot + 1;
      EXPECT_EQ(chip.bcm_field_entry_create_at(unit, 1, entry, slot), Shim::successCode);
      if (program) program(entry);
      EXPECT_EQ(chip.bcm_field_entry_install(unit, entry), Shim::successCode);
      return entry;
   }
   std::optional<U32> hit(const Packet& packet) {
      const std::optional<Chip::Match> match = chip.classify(unit, packet);
      return match ? std::optional<U32>(match->entryId) : std::nullopt;
   }

   SimulatedChip chip{SimulatedChip::Config{1, 32}};
};

using C = SimulatedChip&;

struct QualifierCase {
   const char* name;
   void (*program)(SimulatedChip& chip, U32 entry);
   std::vector<std::pair<Packet, bool>> packets;  // each packet, and whether it hits the entry
};

TEST_F(FieldProcessorTest, HitsExactlyWhenEveryQualifierMatchesUnderItsMask) {
   const QualifierCase cases[] = {
       {"src ip under a prefix mask",
        [](C c, U32 e) { c.bcm_field_qualify_SrcIp(unit, e, 0x0A000000, 0xFFFFFF00); },
        {{dnsQuery({}, 0x0A00004D), true}, {dnsQuery({}, 0x0A000101), false}}},
       {"port, never read in a non-first fragment",
        [](C c, U32 e) { c.bcm_field_qualify_L4DstPort(unit, e, 53, all); },
        {{dnsQuery(), true}, {dnsQuery(first), true}, {dnsQuery(nonFirst), false}}},
       {"port zero",
        [](C c, U32 e) { c.bcm_field_qualify_L4SrcPort(unit, e, 0, all); },
        {{Packet{.fragment = nonFirst}, false}}},
       {"any fragment",
        [](C c, U32 e) {
           c.bcm_field_qualify_IpFrag(unit, e, static_cast<S32>(Shim::FieldIpFrag::anyFragment));
        },
        {{dnsQuery(first), true}, {dnsQuery(nonFirst), true}, {dnsQuery(), false}}},
       {"fin, syn and rst clear, flags unread in a non-first fragment",
        [](C c, U32 e) { c.bcm_field_qualify_TcpControl(unit, e, 0, 0x7); },
        {{tcp(Chip::tcpAck), true},
         {tcp(Chip::tcpSyn | Chip::tcpAck), false},
         {tcp(Chip::tcpSyn, nonFirst), true}}},
   };
   for (const QualifierCase& c : cases) {
      SCOPED_TRACE(c.name);
      const U32 entry = installedEntry(0, [&](U32 id) { c.program(chip, id); });
      for (std::size_t i = 0; i < c.packets.size(); ++i) {
         const auto& [packet, hits] = c.packets[i];
         EXPECT_EQ(hit(packet), hits ? std::optional<U32>(entry) : std::nullopt) << "packet " << i;
      }
      ASSERT_EQ(chip.bcm_field_entry_destroy(unit, entry), Shim::successCode);
   }
}

TEST_F(FieldProcessorTest, HigherPriorityWinsThenTheLowerSlotWhateverTheCreationOrder) {
   const U32 later = installedEntry(6);
   const U32 earlier = installedEntry(2);
   EXPECT_EQ(hit(dnsQuery()), earlier);
   ASSERT_EQ(chip.bcm_field_entry_prio_set(unit, later, 1), Shim::successCode);
   EXPECT_EQ(hit(dnsQuery()), earlier) << "a priority takes effect when installed";
   ASSERT_EQ(chip.bcm_field_entry_reinstall(unit, later), Shim::successCode);
   EXPECT_EQ(hit(dnsQuery()), later);
   ASSERT_EQ(chip.bcm_field_entry_prio_set(unit, later, 0), Shim::successCode);
   ASSERT_EQ(chip.bcm_field_entry_reinstall(unit, later), Shim::successCode);
   EXPECT_EQ(hit(dnsQuery()), earlier) << "equal priorities again, below one installed before";
   ASSERT_EQ(chip.bcm_field_entry_destroy(unit, earlier), Shim::successCode);
   EXPECT_EQ(hit(dnsQuery()), later);
}

TEST_F(FieldProcessorTest, OnlyTheInstalledContentOfAnEntryClassifies) {
   const U32 entry = 1;
   ASSERT_EQ(chip.bcm_field_entry_create_at(unit, 1, entry, 0), Shim::successCode);
   ASSERT_EQ(chip.bcm_field_qualify_SrcIp(unit, entry, 0x0A000001, all), Shim::successCode);
   ASSERT_EQ(chip.bcm_field_action_add(unit, entry, drop, 0, 0), Shim::successCode);
   const U32 later = installedEntry(1);
   EXPECT_EQ(hit(dnsQuery()), later) << "an entry not installed shadows nothing";

   ASSERT_EQ(chip.bcm_field_entry_install(unit, entry), Shim::successCode);
   chip.bcm_field_qualify_SrcIp(unit, entry, 0x0A000002, all);
   chip.bcm_field_action_remove_all(unit, entry);
   const std::optional<Chip::Match> stale = chip.classify(unit, dnsQuery());
   ASSERT_TRUE(stale);
   EXPECT_EQ(stale->entryId, entry);
   EXPECT_TRUE(stale->actions.find(drop));
   ASSERT_EQ(chip.bcm_field_entry_reinstall(unit, entry), Shim::successCode);
   EXPECT_EQ(hit(dnsQuery()), later);
   const std::optional<Chip::Match> fresh = chip.classify(unit, dnsQuery({}, 0x0A000002));
   ASSERT_TRUE(fresh);
   EXPECT_TRUE(fresh->actions.items().empty());
}

TEST_F(FieldProcessorTest, AnEndedSessionLosesItsStagedEntriesAndAUnitResetEverything) {
   const U32 placed = installedEntry(0);
   ASSERT_EQ(chip.bcm_field_entry_create(unit, 1, 40), Shim::successCode);
   chip.doSessionEnd();
   EXPECT_EQ(chip.entryCount(unit), 1u);
   EXPECT_EQ(hit(dnsQuery()), placed);
   // The staged id is free again for the next session.
   EXPECT_EQ(chip.bcm_field_entry_create(unit, 1, 40), Shim::successCode);

   chip.doUnitReset(unit);
   EXPECT_EQ(chip.entryCount(unit), 0u);
   EXPECT_EQ(hit(dnsQuery()), std::nullopt);
}

// What the chip refuses stays out of the entry, so a faulty write cannot pass unnoticed.
TEST_F(FieldProcessorTest, RefusedCallsReturnTheirCodeAndChangeNothing) {
   constexpr U32 id = 7;  // at slot 5
   constexpr U32 missing = 8;
   ASSERT_EQ(chip.bcm_field_entry_create_at(unit, 3, id, 5), Shim::successCode);
   ASSERT_EQ(chip.bcm_field_action_add(unit, id, drop, 0, 0), Shim::successCode);
   const S32 invalid = Shim::code(SdkError::invalidParameter);
   const S32 exists = Shim::code(SdkError::exists);
   const struct {
      S32 code;
      const char* name;
      std::function<S32(C)> call;
   } cases[] = {
       {invalid, "port over 16 bits",
        [](C c) { return c.bcm_field_qualify_L4SrcPort(unit, id, 0x10000, 0xFFFF); }},
       {invalid, "vlan over 13 bits",
        [](C c) { return c.bcm_field_qualify_L3Ingress(unit, id, 8192, ~0u); }},
       {invalid, "flag beyond fin, syn, rst",
        [](C c) { return c.bcm_field_qualify_TcpControl(unit, id, 0x40, 0x7); }},
       {invalid, "no fragment state", [](C c) { return c.bcm_field_qualify_IpFrag(unit, id, 0); }},
       {exists, "action added twice",
        [](C c) { return c.bcm_field_action_add(unit, id, drop, 1, 0); }},
       {Shim::code(SdkError::notFound), "missing entry",
        [](C c) { return c.bcm_field_qualify_DstIp(unit, missing, 1, ~0u); }},
       {Shim::code(SdkError::invalidUnit), "unit beyond the chip",
        [](C c) { return c.bcm_field_qualify_DstIp(1, id, 1, ~0u); }},
       {exists, "id taken", [](C c) { return c.bcm_field_entry_create_at(unit, 3, id, 6); }},
       {exists, "slot taken", [](C c) { return c.bcm_field_entry_create_at(unit, 3, missing, 5); }},
       {invalid, "slot beyond the TCAM",
        [](C c) { return c.bcm_field_entry_create_at(unit, 3, missing, 32); }},
       {invalid, "id beyond the entry table, twice the slots",
        [](C c) { return c.bcm_field_entry_create(unit, 3, 65); }},
   };
   for (const auto& c : cases) EXPECT_EQ(c.call(chip), c.code) << c.name;

   const Chip::FieldEntry entry = *chip.entry(unit, id);
   for (U32 field = 0; field < Chip::qualifierCount; ++field) {
      EXPECT_FALSE(entry.qualifier(static_cast<Chip::KeyField>(field))) << field;
   }
   EXPECT_EQ(entry.actions().items().size(), 1u);
   EXPECT_EQ(chip.entryCount(unit), 1u);
   ASSERT_EQ(chip.bcm_field_entry_destroy(unit, id), Shim::successCode);
   EXPECT_EQ(chip.bcm_field_entry_create_at(unit, 3, missing, 5), Shim::successCode) << "slot free";
}

}  // namespace
}  // namespace ChipTest

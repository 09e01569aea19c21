#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <optional>
#include <vector>

#include "platform/framework/kiv/errors.h"
#include "platform/segment/switch_segment.h"
#include "platform/switch/chip/simulated_chip.h"
#include "platform/switch/sdk/return_code.h"
#include "platform/switch/sdk/sdk_constants.h"
#include "tests/support/child_process.h"

namespace ChipTest {
namespace {

using Chip::Packet;
using Chip::SimulatedChip;
using Segment::SwitchSegment;

constexpr S32 unit = 0;
constexpr U32 all = 0xFFFFFFFF;
const S32 drop = static_cast<S32>(Shim::FieldAction::drop);
const S32 l3Switch = static_cast<S32>(Shim::FieldAction::l3Switch);
const S32 profileMemory = static_cast<S32>(Shim::SocMem::l4XlateProfile);
const S32 controlRegister = static_cast<S32>(Shim::SocReg::l4XlateCtrl);

Packet from(U32 srcIp) { return Packet{.srcIp = srcIp, .dstIp = 0x08080808, .ipProtocol = 17}; }

// What a packet hit: the entry and its actions' ids and first parameters.
struct Hit {
   U32 entryId;
   std::vector<std::pair<S32, U32>> actions;

   bool operator==(const Hit&) const = default;
};

std::optional<Hit> hit(SimulatedChip& chip, const Packet& packet) {
   const std::optional<Chip::Match> match = chip.classify(unit, packet);
   if (!match) return std::nullopt;
   Hit found{match->entryId, {}};
   for (const Chip::FieldActionValue& action : match->actions.items()) {
      found.actions.emplace_back(action.action, action.param0);
   }
   return found;
}

// A chip of two units of 16 slots, in a segment the test holds, as the switch holds it.
class ChipSegmentTest : public ::testing::Test {
protected:
   // Entry `id` rewritten to match packets from srcIp/mask and do `action` with `param`, and
   // installed again: the install's code.
   static S32 programmed(SimulatedChip& chip, U32 id, U32 srcIp, U32 mask, S32 action, U32 param) {
      chip.bcm_field_qualify_SrcIp(unit, id, srcIp, mask);
      chip.bcm_field_action_remove_all(unit, id);
      chip.bcm_field_action_add(unit, id, action, param, 0);
      return chip.bcm_field_entry_reinstall(unit, id);
   }

   const SimulatedChip::Config config{2, 16, 2, 1};
   const std::unique_ptr<SwitchSegment> segment =
       SwitchSegment::create(SimulatedChip::segmentBytes(config));
};

TEST_F(ChipSegmentTest, AChipAttachedLaterSeesWhatTheFirstWroteAndPacketsHitTheSameEntries) {
   std::optional<SimulatedChip> agent(std::in_place, *segment, config);
   ASSERT_EQ(agent->bcm_field_entry_create_at(unit, 7, 1, 3), Shim::successCode);
   ASSERT_EQ(agent->bcm_field_entry_prio_set(unit, 1, 2), Shim::successCode);
   ASSERT_EQ(programmed(*agent, 1, 0x0A000000, 0xFF000000, drop, 0), Shim::successCode);
   ASSERT_EQ(agent->bcm_field_entry_create_at(unit, 7, 2, 1), Shim::successCode);
   ASSERT_EQ(programmed(*agent, 2, 0x0A000001, all, l3Switch, 5), Shim::successCode);
   ASSERT_EQ(agent->bcm_field_entry_create(unit, 7, 20), Shim::successCode);
   ASSERT_EQ(agent->soc_reg32_set(unit, controlRegister, Shim::regPortAny, 0, 0x00100003),
             Shim::successCode);
   const std::vector<U32> profile{4, 5, 6};
   ASSERT_EQ(agent->soc_mem_write(unit, profileMemory, Shim::memBlockAny, 30, profile),
             Shim::successCode);
   EXPECT_EQ(hit(*agent, from(0x0A000001)), (Hit{1, {{drop, 0}}})) << "priority before slot";
   agent.reset();

   const std::unique_ptr<SwitchSegment> attached = SwitchSegment::attach(segment->name());
   SimulatedChip restarted(*attached, config);
   EXPECT_EQ(restarted.entryCount(unit), 3u);
   const std::optional<Chip::FieldEntry> first = restarted.entry(unit, 1);
   ASSERT_TRUE(first);
   EXPECT_EQ(first->group(), 7);
   EXPECT_EQ(first->slot(), 3u);
   EXPECT_EQ(first->priority(), 2);
   EXPECT_EQ(first->installState(), Chip::InstallState::installed);
   EXPECT_EQ(first->qualifier(Chip::KeyField::srcIp),
             (Chip::QualifierValue{0x0A000000, 0xFF000000}));
   EXPECT_FALSE(restarted.entry(unit, 20)->placed());
   EXPECT_EQ(hit(restarted, from(0x0A000001)), (Hit{1, {{drop, 0}}}));
   EXPECT_EQ(restarted.hitCount(unit, 1), 2u);
   restarted.hitCountsClear(unit);
   EXPECT_EQ(restarted.hitCount(unit, 1), 0u);
   EXPECT_EQ(hit(restarted, from(0x0A000001)), (Hit{1, {{drop, 0}}}));
   EXPECT_EQ(restarted.hitCount(unit, 1), 1u);
   EXPECT_EQ(restarted.portTranslationControl(unit), 0x00100003u);
   EXPECT_EQ(restarted.portTranslationProfile(unit, 0, 30),
             (Chip::PortTranslation::ProfileEntry{4, 5, 6}));
   EXPECT_EQ(restarted.portTranslationProfile(unit, 1, 30),
             (Chip::PortTranslation::ProfileEntry{}));
}

TEST_F(ChipSegmentTest, AChipFoundWithAnotherConfigIsRefused) {
   const SimulatedChip built(*segment, config);
   EXPECT_THAT(
       [&] {
          SimulatedChip(*segment, SimulatedChip::Config{2, 32, 2, 1});
       },
       testing::ThrowsMessage<Kiv::NameInUseException>(
           "the chip in " + segment->name() +
           " has 2 units of 16 slots, 2 pipes of 1 copies, not 2 units of 32 slots, 2 "
           "pipes of 1 copies"));
}

// A default chip spans a unit of memory for each of its 65 units; a unit takes its memory, all
// of it at once, only when the SDK first reaches it.
TEST(ChipMemoryTest, OnlyTheUnitsInUseTakeMemory) {
   const std::unique_ptr<SwitchSegment> segment =
       SwitchSegment::create(SimulatedChip::segmentBytes(SimulatedChip::Config{}));
   SimulatedChip chip(*segment, SimulatedChip::Config{});
   for (S32 module = 0; module < 2; ++module) {
      ASSERT_EQ(chip.bcm_field_entry_create_at(module, 1, 1, 0), Shim::successCode);
   }
   struct stat status {};
   ASSERT_EQ(stat(("/dev/shm/" + segment->name()).c_str(), &status), 0);
   const auto unitBytes = static_cast<off_t>(Chip::FieldProcessor::bytes(4096));
   EXPECT_GT(status.st_size, 60 * unitBytes);
   EXPECT_GE(status.st_blocks * 512, 2 * unitBytes);
   EXPECT_LT(status.st_blocks * 512, 3 * unitBytes);
}

// The child plays the agent, killed at any instant: it rewrites entry 1 in slot 0 between two
// contents, a host row that drops and a wider row that switches, each installed in one write,
// while the test reads the chip as the traffic does: a packet of the host always meets one
// of the two, with the actions installed with its row, and a packet of the wider row alone
// meets it with its actions or nothing.
TEST_F(ChipSegmentTest, AWriterKilledMidWriteLeavesTheSlotWholeAndNothingLocked) {
   SimulatedChip traffic(*segment, config);
   const auto rewritten = [&](SimulatedChip& chip, bool host) {
      chip.bcm_field_qualify_SrcIp(unit, 1, host ? 0x0A000001 : 0x0A000000,
                                   host ? all : 0xFF000000);
      chip.bcm_field_action_remove_all(unit, 1);
      chip.bcm_field_action_add(unit, 1, host ? drop : l3Switch, host ? 0 : 9, 0);
      return chip.bcm_field_entry_reinstall(unit, 1);
   };
   const Hit hostContent{1, {{drop, 0}}};
   const Hit widerContent{1, {{l3Switch, 9}}};
   const auto whole = [&] {
      const std::optional<Hit> host = hit(traffic, from(0x0A000001));
      const std::optional<Hit> wider = hit(traffic, from(0x0A020000));
      return (host == hostContent || host == widerContent) && (!wider || wider == widerContent);
   };
   ASSERT_EQ(traffic.bcm_field_entry_create_at(unit, 7, 1, 0), Shim::successCode);
   ASSERT_EQ(rewritten(traffic, true), Shim::successCode);
   for (U32 round = 0; round < 8; ++round) {
      TestSupport::Child agent([&](int ready) {
         const std::unique_ptr<SwitchSegment> attached = SwitchSegment::attach(segment->name());
         SimulatedChip chip(*attached, config);
         (void)!write(ready, "r", 1);
         for (bool host = false;; host = !host) rewritten(chip, host);
      });
      U32 torn = 0;
      for (U32 read = 0; read < 500 * (round + 1); ++read) torn += whole() ? 0 : 1;
      agent.doKill();
      EXPECT_EQ(torn, 0u) << "round " << round;
      // Another slot written first, so that a scan reads slot 0 as the dead writer left it.
      ASSERT_EQ(traffic.bcm_field_entry_create_at(unit, 7, 2 + round, 1 + round),
                Shim::successCode);
      EXPECT_TRUE(whole()) << "after the kill, round " << round;
      ASSERT_EQ(rewritten(traffic, true), Shim::successCode);
      EXPECT_EQ(hit(traffic, from(0x0A000001)), hostContent);
   }
}

}  // namespace
}  // namespace ChipTest

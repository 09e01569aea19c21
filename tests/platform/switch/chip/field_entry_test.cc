#include <gtest/gtest.h>

#include "platform/switch/chip/simulated_chip.h"
#include "platform/switch/sdk/return_code.h"
#include "platform/switch/sdk/sdk_constants.h"

namespace ChipTest {
namespace {

using Chip::SimulatedChip;
using Shim::SdkError;

constexpr S32 unit = 1;
constexpr U32 entryId = 7;
constexpr S32 ok = Shim::successCode;

class FieldEntryTest : public ::testing::Test {
protected:
   void SetUp() override { ASSERT_EQ(chip.bcm_field_entry_create_at(unit, 3, entryId, 5), ok); }

   SimulatedChip chip{SimulatedChip::Config{2, 16}};
};

using Write = S32 (SimulatedChip::*)(S32, U32, U32, U32);
using Read = S32 (SimulatedChip::*)(S32, U32, U32*, U32*);

struct ReadBackCase {
   const char* name;
   Write write;
   Read read;
   U32 data;
   U32 mask;
   U32 maskRead;  // the mask at the width hardware stores it
};

TEST_F(FieldEntryTest, QualifiersReadBackAtHardwareWidth) {
   const ReadBackCase cases[] = {
       {"src ip prefix", &SimulatedChip::bcm_field_qualify_SrcIp,
        &SimulatedChip::bcm_field_qualify_SrcIp_get, 0x0A000000, 0xFFFFFF00, 0xFFFFFF00},
       {"dst ip", &SimulatedChip::bcm_field_qualify_DstIp,
        &SimulatedChip::bcm_field_qualify_DstIp_get, 0x08080808, 0xFFFFFFFF, 0xFFFFFFFF},
       {"l4 src port", &SimulatedChip::bcm_field_qualify_L4SrcPort,
        &SimulatedChip::bcm_field_qualify_L4SrcPort_get, 80, 0xFFFFFFFF, 0xFFFF},
       {"l4 dst port", &SimulatedChip::bcm_field_qualify_L4DstPort,
        &SimulatedChip::bcm_field_qualify_L4DstPort_get, 53, 0xFFFFFFFF, 0xFFFF},
       {"l3 ingress", &SimulatedChip::bcm_field_qualify_L3Ingress,
        &SimulatedChip::bcm_field_qualify_L3Ingress_get, 10, 0xFFFFFFFF, 0x1FFF},
       {"l3 ingress, narrow mask", &SimulatedChip::bcm_field_qualify_L3Ingress,
        &SimulatedChip::bcm_field_qualify_L3Ingress_get, 4094, 0xFFF, 0xFFF},
   };
   for (const ReadBackCase& c : cases) {
      SCOPED_TRACE(c.name);
      ASSERT_EQ((chip.*c.write)(unit, entryId, c.data, c.mask), ok);
      U32 data = 0;
      U32 mask = 0;
      ASSERT_EQ((chip.*c.read)(unit, entryId, &data, &mask), ok);
      EXPECT_EQ(data, c.data);
      EXPECT_EQ(mask, c.maskRead);
   }
   ASSERT_EQ(chip.bcm_field_qualify_IpProtocol(unit, entryId, 6, 0xFF), ok);
   U8 protocol = 0;
   U8 protocolMask = 0;
   ASSERT_EQ(chip.bcm_field_qualify_IpProtocol_get(unit, entryId, &protocol, &protocolMask), ok);
   EXPECT_EQ(protocol, 6);
   EXPECT_EQ(protocolMask, 0xFF);
}

TEST_F(FieldEntryTest, DataWiderThanTheFieldIsRefusedAndNothingStored) {
   EXPECT_EQ(chip.bcm_field_qualify_L4SrcPort(unit, entryId, 0x10000, 0xFFFF),
             Shim::code(SdkError::invalidParameter));
   EXPECT_EQ(chip.bcm_field_qualify_L3Ingress(unit, entryId, 8192, 0xFFFFFFFF),
             Shim::code(SdkError::invalidParameter));
   EXPECT_EQ(chip.bcm_field_qualify_TcpControl(unit, entryId, 0x40, 0x7),
             Shim::code(SdkError::invalidParameter));
   EXPECT_EQ(chip.bcm_field_qualify_IpFrag(unit, entryId, 0),
             Shim::code(SdkError::invalidParameter));
   const Chip::FieldEntry entry = *chip.entry(unit, entryId);
   EXPECT_FALSE(entry.qualifier(Chip::KeyField::l4SrcPort));
   EXPECT_FALSE(entry.qualifier(Chip::KeyField::l3Ingress));
   EXPECT_FALSE(entry.qualifier(Chip::KeyField::ipFrag));
}

TEST_F(FieldEntryTest, ReadOfAnAbsentQualifierOrEntryIsNotFoundAndLeavesTheOutputs) {
   U32 data = 0xDEAD;
   U32 mask = 0xBEEF;
   EXPECT_EQ(chip.bcm_field_qualify_SrcIp_get(unit, entryId, &data, &mask),
             Shim::code(SdkError::notFound));
   EXPECT_EQ(chip.bcm_field_qualify_SrcIp_get(unit, entryId + 1, &data, &mask),
             Shim::code(SdkError::notFound));
   EXPECT_EQ(chip.bcm_field_qualify_SrcIp_get(0, entryId, &data, &mask),
             Shim::code(SdkError::notFound))
       << "entries belong to one unit";
   EXPECT_EQ(data, 0xDEADu);
   EXPECT_EQ(mask, 0xBEEFu);
}

TEST_F(FieldEntryTest, WritesToAMissingEntryOrUnitAreRefused) {
   const U32 missing = entryId + 1;
   const S32 notFound = Shim::code(SdkError::notFound);
   EXPECT_EQ(chip.bcm_field_qualify_DstIp(unit, missing, 1, 0xFFFFFFFF), notFound);
   EXPECT_EQ(chip.bcm_field_action_add(unit, missing, 10, 0, 0), notFound);
   EXPECT_EQ(chip.bcm_field_action_remove_all(unit, missing), notFound);
   EXPECT_EQ(chip.bcm_field_entry_install(unit, missing), notFound);
   EXPECT_EQ(chip.bcm_field_entry_destroy(unit, missing), notFound);
   EXPECT_EQ(chip.bcm_field_qualify_DstIp(2, entryId, 1, 0xFFFFFFFF),
             Shim::code(SdkError::invalidUnit));
   EXPECT_EQ(chip.bcm_field_qualify_DstIp(-1, entryId, 1, 0xFFFFFFFF),
             Shim::code(SdkError::invalidUnit));
}

TEST_F(FieldEntryTest, CreateRefusesTakenIdsAndSlots) {
   EXPECT_EQ(chip.bcm_field_entry_create_at(unit, 3, entryId, 6), Shim::code(SdkError::exists));
   EXPECT_EQ(chip.bcm_field_entry_create_at(unit, 3, entryId + 1, 5), Shim::code(SdkError::exists));
   EXPECT_EQ(chip.bcm_field_entry_create_at(unit, 3, entryId + 1, 16),
             Shim::code(SdkError::invalidParameter));
   EXPECT_EQ(chip.bcm_field_entry_create_at(unit, 3, 0, 6), Shim::code(SdkError::invalidParameter));
   ASSERT_EQ(chip.bcm_field_entry_destroy(unit, entryId), ok);
   EXPECT_EQ(chip.bcm_field_entry_create_at(unit, 3, entryId + 1, 5), ok) << "slot free again";
}

TEST_F(FieldEntryTest, ActionsKeepTheirOrderAndEachIdOnce) {
   const auto action = [](Shim::FieldAction id) { return static_cast<S32>(id); };
   const S32 extraction = action(Shim::FieldAction::assignExtractionCtrlId);
   const S32 opaque = action(Shim::FieldAction::assignOpaqueObject1);
   ASSERT_EQ(chip.bcm_field_action_add(unit, entryId, extraction, 17, 0x1F), ok);
   ASSERT_EQ(chip.bcm_field_action_add(unit, entryId, opaque, 7, 0), ok);
   EXPECT_EQ(chip.bcm_field_action_add(unit, entryId, extraction, 16, 0x1F),
             Shim::code(SdkError::exists));
   EXPECT_EQ(chip.bcm_field_action_add(unit, entryId, 9999, 0, 0),
             Shim::code(SdkError::invalidParameter));
   const std::vector<Chip::FieldActionValue> expected{{extraction, 17, 0x1F}, {opaque, 7, 0}};
   const auto entry = chip.entry(unit, entryId);
   const auto items = entry->actions().items();
   EXPECT_EQ(std::vector<Chip::FieldActionValue>(items.begin(), items.end()), expected);

   ASSERT_EQ(chip.bcm_field_action_remove_all(unit, entryId), ok);
   EXPECT_TRUE(chip.entry(unit, entryId)->actions().items().empty());
   EXPECT_EQ(chip.bcm_field_action_add(unit, entryId, extraction, 16, 0x1F), ok);
}

}  // namespace
}  // namespace ChipTest

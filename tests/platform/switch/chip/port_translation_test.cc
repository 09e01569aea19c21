#include "platform/switch/chip/port_translation.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/switch/sdk/return_code.h"
#include "tests/platform/switch/sdk/sdk_fixture.h"

namespace ShimTest {
namespace {

constexpr S32 unit = 2;

// The enable sequence as the NAT programmer runs it, through the shim.
class PortTranslationTest : public SdkFixture {
protected:
   void enableRegister() {
      Shim::Sdk& sdk = Shim::sdk_;
      const S32 reg = sdk.L4_XLATE_CTRLr();
      U32 val = 0;
      ASSERT_EQ(sdk.soc_reg32_get(unit, reg, sdk.REG_PORT_ANY(), 0, &val), sdk.BCM_E_NONE());
      const std::pair<S32, U32> fields[] = {
          {sdk.TCP_PORT_MODEf(), 3},   {sdk.UDP_PORT_MODEf(), 3},   {sdk.ICMP_ID_MODEf(), 3},
          {sdk.TCP_CSUM_UPDATEf(), 1}, {sdk.UDP_CSUM_UPDATEf(), 1}, {sdk.IP_CSUM_UPDATEf(), 1},
          {sdk.FRAG_MODEf(), 3},       {sdk.PORT_SELECTf(), 2},     {sdk.L4_XLATE_ENABLEf(), 1}};
      for (const auto& [field, value] : fields)
         sdk.soc_reg_field32_set(unit, reg, &val, field, value);
      ASSERT_EQ(sdk.soc_reg32_set(unit, reg, sdk.REG_PORT_ANY(), 0, val), sdk.BCM_E_NONE());
   }

   // Returns the whole buffer the read filled, sized as the SDK's largest entry.
   std::vector<U32> enableProfile(U32 index) {
      Shim::Sdk& sdk = Shim::sdk_;
      const S32 mem = sdk.L4_XLATE_PROFILEm();
      std::vector<U32> entry(sdk.SOC_MAX_MEM_WORDS(), 0);
      EXPECT_EQ(sdk.soc_mem_read(unit, mem, sdk.MEM_BLOCK_ANY(), index, entry), sdk.BCM_E_NONE());
      sdk.soc_mem_field32_set(unit, mem, entry, sdk.XLATE_MODEf(), 3);
      EXPECT_EQ(sdk.soc_mem_write(unit, mem, sdk.MEM_BLOCK_ALL(), index, entry), sdk.BCM_E_NONE());
      return entry;
   }
};

TEST_F(PortTranslationTest, RegisterFieldsAreSetAndOtherBitsSurvive) {
   const struct {
      U32 before;
      U32 after;
   } cases[] = {
       {0x00000000, 0x0012373F},
       // PORT_SELECTf = 2 clears bit 16; every other bit was set already.
       {0xFFFFFFFF, 0xFFFEFFFF},
   };
   for (const auto& c : cases) {
      chip_.portTranslationControlIs(unit, c.before);
      enableRegister();
      EXPECT_EQ(chip_.portTranslationControl(unit), c.after) << std::hex << c.before;
   }
}

TEST_F(PortTranslationTest, ProfileModeIsSetAndOtherBitsSurvive) {
   chip_.portTranslationProfileIs(unit, 30, {0x12345678, 0xFFFFFCFF, 0x9ABCDEF0});
   chip_.portTranslationProfileIs(unit, 31, {0, 0x00000100, 0});
   EXPECT_EQ(enableProfile(30), (std::vector<U32>{0x12345678, 0xFFFFFFFF, 0x9ABCDEF0, 0}))
       << "the read fills one entry and leaves the rest of the buffer";
   enableProfile(31);
   EXPECT_EQ(chip_.portTranslationProfile(unit, 30),
             (Chip::PortTranslation::ProfileEntry{0x12345678, 0xFFFFFFFF, 0x9ABCDEF0}));
   EXPECT_EQ(chip_.portTranslationProfile(unit, 31),
             (Chip::PortTranslation::ProfileEntry{0, 0x300, 0}));
   EXPECT_EQ(chip_.portTranslationProfile(unit, 32), (Chip::PortTranslation::ProfileEntry{}));
}

}  // namespace
}  // namespace ShimTest

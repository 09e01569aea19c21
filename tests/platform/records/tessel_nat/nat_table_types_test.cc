#include "platform/records/tessel_nat/nat_table_types.h"

#include <gtest/gtest.h>

#include "platform/records/ember/nat_hw_shadow.h"
#include "platform/tables/kiv_shoal/entity_manager.h"
#include "platform/records/quill/quill_shoal_dirs.h"
#include "platform/records/tessel_nat/uid_tables.h"

namespace {

class NatTableTypesTest : public ::testing::Test {
protected:
   void SetUp() override { TesselNat::natTableTypesIs(); }

   template <class Table>
   Kiv::Ptr<Table> mount(const Kiv::String& path) {
      return Kiv::ptrCast<Table>(
          manager->doMount(path, Table::typeName, KivShoal::MountInfo(KivShoal::KivShoalType{})));
   }

   Kiv::Ptr<KivShoal::EntityManager> manager = new KivShoal::EntityManager("agent");
};

TEST_F(NatTableTypesTest, MountingByTypeNameCreatesEachTable) {
   EXPECT_TRUE(mount<Ember::NatHwShadow>("tesselnat/hwShadow"));
   EXPECT_TRUE(mount<TesselNat::HwKeyUidTable>("tesselnat/hwKeyUidTable"));
   EXPECT_TRUE(mount<TesselNat::UidHwKeyTable>("tesselnat/uidHwKeyTable"));
   EXPECT_TRUE(mount<TesselNat::ModSetDir>("tesselnat/ingModSetDir"));
   EXPECT_TRUE(mount<Quill::QuillShoalConfigDir>("tesselnat/ingQuillShoalConfigDir"));
   EXPECT_TRUE(mount<Quill::QuillShoalStatusDir>("tesselnat/ingQuillShoalStatusDir/1"));
}

}  // namespace

#include "platform/tessel_nat/nat_table_types.h"

#include <gtest/gtest.h>

#include "platform/ember/nat_hw_shadow.h"
#include "platform/kiv_shoal/entity_manager.h"
#include "platform/quill/quill_shoal_dirs.h"
#include "platform/tessel_nat/uid_tables.h"

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

TEST_F(NatTableTypesTest, CorruptModuleSetReadsAsEmptyAndIsReported) {
   auto modSets = mount<TesselNat::ModSetDir>("tesselnat/ingModSetDir");
   TesselNat::ModSet modules;
   modules.moduleIs(TesselCentral::ModId(3));
   modSets->modSetIs(TesselNat::ModSetEntry(TesselNat::Uid(7), modules));

   modSets->corruptionOnReadIs(1);
   bool found = true;
   TesselNat::ModSetEntry read = modSets->safeLookup(7, found);
   EXPECT_FALSE(found);
   EXPECT_FALSE(read.modSet().hasModule(TesselCentral::ModId(3)));
   ASSERT_EQ(modSets->corruptionReports(), 1u);
   EXPECT_EQ(modSets->corruptionMessages()[0], modSets->injectedCorruptionText());

   read = modSets->safeLookup(7, found);
   EXPECT_TRUE(found);
   EXPECT_TRUE(read.modSet().hasModule(TesselCentral::ModId(3)));
}

TEST_F(NatTableTypesTest, StatusWriteIsReadBackByKey) {
   auto statuses = mount<Quill::QuillShoalStatusDir>("tesselnat/ingQuillShoalStatusDir/1");
   statuses->quillStatusIs(Quill::QuillShoalStatus(Quill::QuillShoalKey(7), 1, 42));
   bool found = false;
   Quill::QuillShoalStatus status = statuses->safeLookup(Quill::QuillShoalKey(7), found);
   EXPECT_TRUE(found);
   EXPECT_EQ(status, Quill::QuillShoalStatus(Quill::QuillShoalKey(7), 1, 42));
   EXPECT_EQ(statuses->safeLookup(Quill::QuillShoalKey(8), found), Quill::QuillShoalStatus());
   EXPECT_FALSE(found);
}

}  // namespace

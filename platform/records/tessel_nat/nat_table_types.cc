#include "platform/records/tessel_nat/nat_table_types.h"

#include "platform/records/ember/nat_hw_shadow.h"
#include "platform/records/quill/quill_shoal_dirs.h"
#include "platform/records/tessel_nat/uid_tables.h"
#include "platform/tables/kiv_shoal/table_factory.h"

namespace TesselNat {

void natTableTypesIs() {
   KivShoal::tableTypeIs<Ember::NatHwShadow>();
   KivShoal::tableTypeIs<HwKeyUidTable>();
   KivShoal::tableTypeIs<UidHwKeyTable>();
   KivShoal::tableTypeIs<ModSetDir>();
   KivShoal::tableTypeIs<Quill::QuillShoalConfigDir>();
   KivShoal::tableTypeIs<Quill::QuillShoalStatusDir>();
}

}  // namespace TesselNat

#include "platform/records/tessel_nat/nat_table_types.h"

#include "platform/records/ember/nat_hw_shadow.h"
#include "platform/records/quill/quill_shoal_dirs.h"
#include "platform/records/tessel_nat/uid_tables.h"
#include "platform/tables/kiv_shoal/table_factory.h"

namespace TesselNat {
namespace {

template <class Table>
void tableTypeIs() {
   KivShoal::tableFactoryIs(
       Table::typeName, [](const Kiv::Name& path, const std::shared_ptr<Shoal::TableState>& state,
                           Shoal::Access access) {
          return Kiv::Ptr<Shoal::ShoalMapBase>(new Table(path, state, access));
       });
}

}  // namespace

void natTableTypesIs() {
   tableTypeIs<Ember::NatHwShadow>();
   tableTypeIs<HwKeyUidTable>();
   tableTypeIs<UidHwKeyTable>();
   tableTypeIs<ModSetDir>();
   tableTypeIs<Quill::QuillShoalConfigDir>();
   tableTypeIs<Quill::QuillShoalStatusDir>();
}

}  // namespace TesselNat

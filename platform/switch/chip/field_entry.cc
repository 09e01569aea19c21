#include "platform/switch/chip/field_entry.h"

#include "platform/framework/kiv/assert.h"

namespace Chip {
namespace {

std::size_t qualifierIndex(KeyField field) {
   const auto index = static_cast<std::size_t>(field);
   KIV_ASSERT( index < qualifierCount );
   return index;
}

}  // namespace

bool FieldEntry::qualifierIs(KeyField field, U32 data, U32 mask) {
   const std::size_t index = qualifierIndex(field);
   const BitField bits = keyFieldPosition(field).bits;
   if (!bits.fits(data)) return false;
   qualifierData_.fieldIs(field, data);
   qualifierMask_.fieldIs(field, mask & bits.valueMask());
   qualifiersPresent_ = static_cast<U8>(qualifiersPresent_ | 1u << index);
   changed();
   return true;
}

std::optional<QualifierValue> FieldEntry::qualifier(KeyField field) const {
   const std::size_t index = qualifierIndex(field);
   if ((qualifiersPresent_ >> index & 1) == 0) return std::nullopt;
   return QualifierValue{static_cast<U32>(qualifierData_.field(field)),
                         static_cast<U32>(qualifierMask_.field(field))};
}

bool FieldEntry::actionIs(const FieldActionValue& action) {
   if (!actions_.add(action)) return false;
   changed();
   return true;
}

void FieldEntry::actionDelAll() {
   actions_.clear();
   changed();
}

void FieldEntry::priorityIs(S32 priority) {
   priority_ = priority;
   changed();
}

// An absent qualifier's bits are all zeros, data and mask: it matches anything.
TernaryRow FieldEntry::row() const {
   TernaryRow row;
   row.data = qualifierData_;
   row.mask = qualifierMask_;
   row.fieldIs(KeyField::entryValid, 1, 1);
   if (qualifier(KeyField::l4SrcPort) || qualifier(KeyField::l4DstPort)) {
      row.fieldIs(KeyField::l4HeaderPresent, 1, 1);
   }
   return row;
}

void FieldEntry::changed() {
   if (installState_ == InstallState::installed) installState_ = InstallState::changedSinceInstall;
}

}  // namespace Chip

#include "platform/switch/chip/field_processor.h"

#include "platform/switch/sdk/return_code.h"

namespace Chip {

using Shim::SdkError;

FieldProcessor::FieldProcessor(U32 slotCount) : rows_(slotCount), slots_(slotCount) {}

S32 FieldProcessor::entryCreate(S32 group, U32 entryId, U32 slot) {
   if (entryId == 0 || slot >= slots_.size()) return code(SdkError::invalidParameter);
   if (entries_.contains(entryId) || slots_[slot].entryId != 0) return code(SdkError::exists);
   entries_.emplace(entryId, FieldEntry(group, slot));
   slots_[slot] = SlotContent{entryId, {}, 0};
   return Shim::successCode;
}

S32 FieldProcessor::entryDestroy(U32 entryId) {
   const auto found = entries_.find(entryId);
   if (found == entries_.end()) return code(SdkError::notFound);
   const U32 slot = found->second.slot();
   rows_[slot] = TernaryRow();
   slots_[slot] = SlotContent();
   entries_.erase(found);
   return Shim::successCode;
}

S32 FieldProcessor::entryInstall(U32 entryId) {
   FieldEntry* entry = findEntry(entryId);
   if (!entry) return code(SdkError::notFound);
   rows_[entry->slot()] = entry->row();
   slots_[entry->slot()].actions = entry->actions();
   entry->installedIs();
   return Shim::successCode;
}

S32 FieldProcessor::qualifierIs(U32 entryId, KeyField field, U32 data, U32 mask) {
   FieldEntry* entry = findEntry(entryId);
   if (!entry) return code(SdkError::notFound);
   return entry->qualifierIs(field, data, mask) ? Shim::successCode
                                                : code(SdkError::invalidParameter);
}

S32 FieldProcessor::qualifierGet(U32 entryId, KeyField field, QualifierValue* value) const {
   const FieldEntry* found = entry(entryId);
   if (!found || !found->qualifier(field)) return code(SdkError::notFound);
   *value = *found->qualifier(field);
   return Shim::successCode;
}

S32 FieldProcessor::actionIs(U32 entryId, const FieldActionValue& action) {
   FieldEntry* entry = findEntry(entryId);
   if (!entry) return code(SdkError::notFound);
   if (!isFieldAction(action.action)) return code(SdkError::invalidParameter);
   return entry->actionIs(action) ? Shim::successCode : code(SdkError::exists);
}

S32 FieldProcessor::actionDelAll(U32 entryId) {
   FieldEntry* entry = findEntry(entryId);
   if (!entry) return code(SdkError::notFound);
   entry->actionDelAll();
   return Shim::successCode;
}

const FieldEntry* FieldProcessor::entry(U32 entryId) const {
   const auto found = entries_.find(entryId);
   return found == entries_.end() ? nullptr : &found->second;
}

FieldEntry* FieldProcessor::findEntry(U32 entryId) {
   const auto found = entries_.find(entryId);
   return found == entries_.end() ? nullptr : &found->second;
}

std::optional<Match> FieldProcessor::classify(const Packet& packet) {
   const TcamKey key = keyOf(packet);
   for (std::size_t slot = 0; slot < rows_.size(); ++slot) {
      if (!rows_[slot].matches(key)) continue;
      SlotContent& content = slots_[slot];
      ++content.hits;
      return Match{content.entryId, content.actions};
   }
   return std::nullopt;
}

U64 FieldProcessor::hitCount(U32 entryId) const {
   const FieldEntry* found = entry(entryId);
   return found ? slots_[found->slot()].hits : 0;
}

}  // namespace Chip

#include "platform/switch/chip/action_list.h"

#include "platform/framework/kiv/assert.h"

namespace Chip {

bool isFieldAction(S32 action) {
   switch (static_cast<Shim::FieldAction>(action)) {
      case Shim::FieldAction::drop:
      case Shim::FieldAction::dropCancel:
      case Shim::FieldAction::copyToCpuCancel:
      case Shim::FieldAction::l3Switch:
      case Shim::FieldAction::assignOpaqueObject1:
      case Shim::FieldAction::assignExtractionCtrlId:
         return true;
   }
   return false;
}

// The largest id isFieldAction() accepts.
static_assert(static_cast<S32>(Shim::FieldAction::assignExtractionCtrlId) <= 0xFF,
              "action ids are kept a byte each");

bool ActionList::add(const FieldActionValue& action) {
   KIV_ASSERT( isFieldAction(action.action) );
   if (find(action.action)) return false;
   // Distinct known ids never outnumber the slots.
   ids_[count_] = static_cast<U8>(action.action);
   params_[2 * count_] = action.param0;
   params_[2 * count_ + 1] = action.param1;
   ++count_;
   return true;
}

std::vector<FieldActionValue> ActionList::items() const {
   std::vector<FieldActionValue> items;
   items.reserve(count_);
   for (U32 index = 0; index < count_; ++index) items.push_back(item(index));
   return items;
}

std::optional<FieldActionValue> ActionList::find(S32 action) const {
   for (U32 index = 0; index < count_; ++index) {
      if (ids_[index] == action) return item(index);
   }
   return std::nullopt;
}

}  // namespace Chip

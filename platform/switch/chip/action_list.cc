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

bool ActionList::add(const FieldActionValue& action) {
   KIV_ASSERT( isFieldAction(action.action) );
   if (find(action.action)) return false;
   // Distinct known ids never outnumber the slots.
   items_[count_++] = action;
   return true;
}

const FieldActionValue* ActionList::find(S32 action) const {
   for (const FieldActionValue& item : items()) {
      if (item.action == action) return &item;
   }
   return nullptr;
}

}  // namespace Chip

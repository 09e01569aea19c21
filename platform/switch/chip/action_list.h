#pragma once

#include <array>
#include <optional>
#include <vector>

#include "platform/framework/kiv/types.h"
#include "platform/switch/sdk/sdk_constants.h"

namespace Chip {

// One action of a field entry: the SDK action id and its two parameters.
struct FieldActionValue {
   S32 action = 0;
   U32 param0 = 0;
   U32 param1 = 0;

   bool operator==(const FieldActionValue&) const = default;
};

// Whether `action` is an action id this chip implements.
bool isFieldAction(S32 action);

// The actions of one field entry in the order they were added, each action id at most once.
// Fixed capacity (one slot per action kind), so copying it into the TCAM allocates nothing,
// and packed, ids a byte each: every entry and every slot carries one, and the chip copies them
// whole on every write and every read.
class ActionList {
public:
   // False, and nothing added, when the list already has this action id. The id must be one
   // isFieldAction() accepts (fatal otherwise).
   bool add(const FieldActionValue& action);
   void clear() { count_ = 0; }

   // A copy of the actions in order, for readers that want them all.
   std::vector<FieldActionValue> items() const;
   // Nothing when the list has no such action.
   std::optional<FieldActionValue> find(S32 action) const;

private:
   FieldActionValue item(U32 index) const {
      return {ids_[index], params_[2 * index], params_[2 * index + 1]};
   }

   std::array<U8, Shim::fieldActionKinds> ids_{};
   U8 count_ = 0;
   std::array<U32, 2 * Shim::fieldActionKinds> params_{};  // param0, param1 of each action
};

}  // namespace Chip

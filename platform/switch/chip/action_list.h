#pragma once

#include <array>
#include <span>

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
// Fixed capacity (one slot per action kind), so copying it into the TCAM allocates nothing.
class ActionList {
public:
   // False, and nothing added, when the list already has this action id. The id must be one
   // isFieldAction() accepts (fatal otherwise).
   bool add(const FieldActionValue& action);
   void clear() { count_ = 0; }

   std::span<const FieldActionValue> items() const { return {items_.data(), count_}; }
   // Null when the list has no such action.
   const FieldActionValue* find(S32 action) const;

private:
   std::array<FieldActionValue, Shim::fieldActionKinds> items_{};
   U32 count_ = 0;
};

}  // namespace Chip

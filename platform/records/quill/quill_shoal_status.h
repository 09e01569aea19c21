#pragma once

#include <type_traits>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/records/quill/quill_shoal_key.h"

namespace Quill {

// The programmer's answer to a QuillShoalConfig: the outcome, and the reqVersion of the
// request it answers.
class QuillShoalStatus {
public:
   QuillShoalStatus() = default;
   QuillShoalStatus(QuillShoalKey key, U32 result, U32 reqVersion)
       : key_(key), result_(result), reqVersion_(reqVersion) {}

   QuillShoalKey key() const { return key_; }
   U32 result() const { return result_; }
   U32 reqVersion() const { return reqVersion_; }

   // "uid: 7 result: 0 reqVersion: 3"
   Kiv::String stringValue() const;

   friend bool operator==(const QuillShoalStatus&, const QuillShoalStatus&) = default;

private:
   QuillShoalKey key_;
   U32 result_ = 0;
   U32 reqVersion_ = 0;
};

static_assert(std::is_trivially_copyable_v<QuillShoalStatus>);

}  // namespace Quill

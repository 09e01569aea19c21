#pragma once

#include <type_traits>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/records/quill/quill_shoal_key.h"

namespace Quill {

// A request to the programmer. reqVersion grows with every request for the same key; the
// status echoes it, which is how the requester knows which request a status answers.
class QuillShoalConfig {
public:
   QuillShoalConfig() = default;
   QuillShoalConfig(QuillShoalKey key, U32 reqVersion) : key_(key), reqVersion_(reqVersion) {}

   QuillShoalKey key() const { return key_; }
   U32 reqVersion() const { return reqVersion_; }
   void reqVersionIs(U32 reqVersion) { reqVersion_ = reqVersion; }

   // "uid: 7 reqVersion: 3"
   Kiv::String stringValue() const;

   friend bool operator==(const QuillShoalConfig&, const QuillShoalConfig&) = default;

private:
   QuillShoalKey key_;
   U32 reqVersion_ = 0;
};

static_assert(std::is_trivially_copyable_v<QuillShoalConfig>);

}  // namespace Quill

#pragma once

#include <compare>
#include <cstddef>
#include <functional>
#include <type_traits>

#include "platform/framework/kiv/types.h"

namespace Quill {

// Key of the request and status tables between the NAT agent and its programmer: the uid
// of the entry a request is about.
class QuillShoalKey {
public:
   QuillShoalKey() = default;
   explicit QuillShoalKey(U32 uid) : uid_(uid) {}

   U32 uid() const { return uid_; }

   friend bool operator==(QuillShoalKey, QuillShoalKey) = default;
   friend auto operator<=>(QuillShoalKey, QuillShoalKey) = default;

private:
   U32 uid_ = 0;
};

static_assert(std::is_trivially_copyable_v<QuillShoalKey>);

}  // namespace Quill

// A uid is its own hash: tables keep uids in their order (see Shoal::Table).
template <>
struct std::hash<Quill::QuillShoalKey> {
   size_t operator()(Quill::QuillShoalKey key) const { return key.uid(); }
};

#include "platform/records/quill/quill_shoal_key.h"

#include "platform/records/ferro/hash_mix.h"

namespace Quill {

U32 QuillShoalKey::hash(U32 seed) const { return Ferro::HashMix(seed).add(uid_).value(); }

}  // namespace Quill

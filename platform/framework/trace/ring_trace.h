#pragma once

#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/framework/trace/ring_buffer.h"
#include "platform/framework/trace/ring_descriptor.h"

namespace Kiv {

// The per-thread ring trace: every thread records into its own RingBuffer, created on the
// thread's first record with defaultCapacity bytes. Recording copies the raw arguments; the
// text is rendered only when the buffer is read.
class RingTrace {
public:
   static constexpr std::size_t defaultCapacity = 64 * 1024;

   // Stores one record of `site` with `args` in this thread's buffer. A record larger than
   // the whole buffer is dropped.
   template <class... A>
   static void record(const RingDescriptor& site, const A&... args) {
      recordValues(site, ringValueOf(args)...);
   }

   // The rendered texts of this thread's records, oldest first.
   static std::vector<String> lines();
   // Empties this thread's buffer.
   static void clear();
   // Replaces this thread's buffer by an empty one of `capacity` bytes, a power of two.
   static void capacityIs(std::size_t capacity);
   static RingBuffer& threadBuffer();

private:
   template <class... V>
   static void recordValues(const RingDescriptor& site, const V&... values) {
      const std::size_t size = (encodedSize(values) + ... + 0);
      RingBuffer& buffer = threadBuffer();
      if (U8* at = buffer.unwrappedRecordIs(site.id(), size)) {
         [[maybe_unused]] Cursor cursor{at};
         (encode(cursor, values), ...);
         return;
      }
      std::optional<RingBuffer::Writer> writer = buffer.recordIs(site.id(), size);
      if (!writer) return;
      (encode(*writer, values), ...);
   }

   static constexpr std::size_t encodedSize(bool) { return 1; }
   static constexpr std::size_t encodedSize(S64) { return sizeof(S64); }
   static constexpr std::size_t encodedSize(U64) { return sizeof(U64); }
   static std::size_t encodedSize(std::string_view text) { return sizeof(U32) + text.size(); }
   static std::size_t encodedSize(const RingLazyValue& value) {
      return sizeof(RingLazyValue::Append) + sizeof(U32) + value.size;
   }

   // A record's fields go straight into storage known to hold them, or, for a record that
   // wraps around the ring's end, through the buffer's writer.
   struct Cursor {
      U8* at;
      void write(const void* bytes, std::size_t size) {
         if (size == 0) return;  // an empty text may have no storage to copy from
         std::memcpy(at, bytes, size);
         at += size;
      }
   };
   template <class Sink>
   static void encode(Sink& sink, bool value) {
      const U8 byte = value ? 1 : 0;
      sink.write(&byte, 1);
   }
   template <class Sink>
   static void encode(Sink& sink, S64 value) {
      sink.write(&value, sizeof value);
   }
   template <class Sink>
   static void encode(Sink& sink, U64 value) {
      sink.write(&value, sizeof value);
   }
   template <class Sink>
   static void encode(Sink& sink, std::string_view text) {
      const auto length = static_cast<U32>(text.size());
      sink.write(&length, sizeof length);
      sink.write(text.data(), text.size());
   }
   // The renderer is a function of this program: the ring is read by the process that wrote it.
   template <class Sink>
   static void encode(Sink& sink, const RingLazyValue& value) {
      sink.write(&value.append, sizeof value.append);
      sink.write(&value.size, sizeof value.size);
      sink.write(value.bytes, value.size);
   }
};

}  // namespace Kiv

// Declares `name`, the function-local static descriptor of a ring trace call site with
// format `fmt` and the arguments that follow. The arguments are not evaluated.
#define KIV_RING_SITE_(name, fmt, ...)                                               \
   using name##Args = decltype(::Kiv::ringArgListOf(__VA_ARGS__));                   \
   static_assert(::Kiv::ringPlaceholderCount(fmt) == name##Args::kinds.size(),       \
                 "the format's {} placeholders and the arguments differ in number"); \
   static const ::Kiv::RingDescriptor& name =                                        \
       ::Kiv::ringDescriptorIs(fmt, name##Args::kinds, __FILE__, __LINE__, __func__)

// Records `fmt` (a string literal with one "{}" per argument) and the arguments in this
// thread's ring trace. Arguments are bools, integers or strings, each evaluated once.
#define KIV_RING_TRACE(fmt, ...)                                         \
   do {                                                                  \
      KIV_RING_SITE_(kivRingSite_, fmt, __VA_ARGS__);                    \
      ::Kiv::RingTrace::record(kivRingSite_ __VA_OPT__(, ) __VA_ARGS__); \
   } while (0)

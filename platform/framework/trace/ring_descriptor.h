#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"

namespace Kiv {

// How a ring trace argument is stored and rendered. Integers of every width are widened to
// 64 bits; strings are stored as a 32-bit length and their bytes; a value wrapped by
// lazyText() is stored as its raw bytes with the function that renders it, so that its text
// is built only if a trace facility shows it or the ring is read.
enum class RingArgKind : U8 { boolean, signedInteger, unsignedInteger, text, lazyText };

// The stored form of a lazyText() argument: the value's bytes and how to render them.
struct RingLazyValue {
   using Append = void (*)(String& out, const void* bytes);
   Append append;
   const void* bytes;
   U32 size;
};

// A trivially copyable value whose text, from its stringValue(), is built only when needed.
template <class T>
struct LazyText {
   static_assert(std::is_trivially_copyable_v<T>, "a lazy ring value is stored as raw bytes");
   const T& value;
};
template <class T>
LazyText<T> lazyText(const T& value) {
   return LazyText<T>{value};
}

template <class T>
struct IsLazyText : std::false_type {};
template <class T>
struct IsLazyText<LazyText<T>> : std::true_type {};

template <class T>
consteval RingArgKind ringArgKindOf() {
   using V = std::remove_cvref_t<T>;
   if constexpr (IsLazyText<V>::value) {
      return RingArgKind::lazyText;
   } else if constexpr (std::is_same_v<V, bool>) {
      return RingArgKind::boolean;
   } else if constexpr (std::is_integral_v<V> && std::is_signed_v<V>) {
      return RingArgKind::signedInteger;
   } else if constexpr (std::is_integral_v<V>) {
      return RingArgKind::unsignedInteger;
   } else {
      static_assert(std::is_convertible_v<const V&, std::string_view>,
                    "a ring trace argument is a bool, an integer or a string");
      return RingArgKind::text;
   }
}

// The argument kinds of one call site, known from the argument types alone.
template <class... A>
struct RingArgList {
   static constexpr std::array<RingArgKind, sizeof...(A)> kinds{ringArgKindOf<A>()...};
};

// Only for decltype in the tracing macros, which must not evaluate their arguments twice.
template <class... A>
RingArgList<std::decay_t<A>...> ringArgListOf(A&&... args);

// The number of "{}" placeholders in a format; the macros check it against the arguments.
consteval std::size_t ringPlaceholderCount(std::string_view format) {
   std::size_t count = 0;
   for (std::size_t at = format.find("{}"); at != std::string_view::npos;
        at = format.find("{}", at + 2)) {
      ++count;
   }
   return count;
}

// The canonical value of an argument: what is stored, and what is rendered.
template <class T>
auto ringValueOf(const T& arg) {
   if constexpr (ringArgKindOf<T>() == RingArgKind::lazyText) {
      using V = std::remove_cvref_t<decltype(arg.value)>;
      return RingLazyValue{[](String& out, const void* bytes) {
                              V value;
                              std::memcpy(static_cast<void*>(&value), bytes, sizeof(V));
                              out += value.stringValue();
                           },
                           &arg.value, static_cast<U32>(sizeof(V))};
   } else if constexpr (ringArgKindOf<T>() == RingArgKind::boolean) {
      return arg;
   } else if constexpr (ringArgKindOf<T>() == RingArgKind::signedInteger) {
      return static_cast<S64>(arg);
   } else if constexpr (ringArgKindOf<T>() == RingArgKind::unsignedInteger) {
      return static_cast<U64>(arg);
   } else {
      return std::string_view(arg);
   }
}

// Text forms of the canonical values: bools as "true"/"false", integers in decimal, strings
// as they are.
void appendRingValue(String& out, bool value);
void appendRingValue(String& out, S64 value);
void appendRingValue(String& out, U64 value);
void appendRingValue(String& out, std::string_view value);
void appendRingValue(String& out, const RingLazyValue& value);

// What one ring trace call site says, registered once: the literal pieces around the
// placeholders, the argument kinds and where the call site is. Records in the ring carry
// only the id and the raw arguments; the text is put together when the ring is read.
class RingDescriptor {
public:
   // `format` must hold one "{}" per kind; a mismatch is a fatal assertion.
   RingDescriptor(U32 id, std::string_view format, std::span<const RingArgKind> kinds,
                  const char* file, int line, const char* function);

   U32 id() const { return id_; }
   const std::vector<RingArgKind>& kinds() const { return kinds_; }
   const char* file() const { return file_; }
   int line() const { return line_; }
   const char* function() const { return function_; }

   // The text for the given arguments, as rendered from a stored record.
   template <class... A>
   String render(const A&... args) const;

   // The text for a stored payload. A payload that does not match the kinds is a fatal
   // assertion.
   String render(std::span<const U8> payload) const;

private:
   U32 id_;
   std::vector<String> pieces_;  // one more than kinds_
   std::vector<RingArgKind> kinds_;
   const char* file_;
   int line_;
   const char* function_;
};

template <class... A>
String RingDescriptor::render(const A&... args) const {
   String out = pieces_[0];
   [[maybe_unused]] std::size_t next = 1;
   ((appendRingValue(out, ringValueOf(args)), out += pieces_[next++]), ...);
   return out;
}

// Registers a new call site and returns its descriptor, which lives until the process exits.
// Call sites keep the result in a function-local static.
const RingDescriptor& ringDescriptorIs(std::string_view format, std::span<const RingArgKind> kinds,
                                       const char* file, int line, const char* function);

// The descriptor registered under `id`; an unknown id is a fatal assertion.
const RingDescriptor& ringDescriptor(U32 id);

}  // namespace Kiv

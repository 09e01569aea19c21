#pragma once

#include <concepts>
#include <type_traits>

#include "platform/framework/kiv/entity.h"
#include "platform/framework/kiv/errors.h"
#include "platform/framework/kiv/ptr.h"
#include "platform/framework/kiv/string.h"

namespace Kiv {

// The text of a constructor argument in the name-in-use error: a number in decimal, a text as
// it is, a value by its stringValue(), an object by the framework's text form of an entity
// pointer (textOf).
template <class T>
String valueText(const T& value) {
   if constexpr (std::is_arithmetic_v<T> || std::is_enum_v<T>) {
      return std::to_string(
          +static_cast<std::conditional_t<std::is_enum_v<T>, long long, T>>(value));
   } else if constexpr (std::is_convertible_v<T, String>) {
      return String(value);
   } else if constexpr (requires { value.stringValue(); }) {
      return value.stringValue();
   } else {
      return textOf(value);
   }
}

// Find-or-create of a member that exists already: each of its constructor attributes must
// equal the argument given now. One that differs raises the name-in-use error naming the
// attribute with the new value and the current one.
template <class T>
void requireSameConstructorArgument(const String& attribute, const T& given, const T& current) {
   if (given == current) return;
   throwNameInUseException(nameInUseText(attribute, valueText(given), valueText(current)));
}

}  // namespace Kiv

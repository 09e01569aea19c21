#pragma once

#include <stdexcept>

#include "platform/framework/kiv/string.h"

namespace Kiv {

// The framework's errors. Each carries the system's own text in what().
class Exception : public std::runtime_error {
public:
   using std::runtime_error::runtime_error;
};

// A value outside the range its type admits.
class RangeException : public Exception {
public:
   using Exception::Exception;
};

// Find-or-create of a member that exists with other constructor arguments.
class NameInUseException : public Exception {
public:
   using Exception::Exception;
};

// A generic request that a type cannot serve (for example the hash of an unhashable type).
class TypeException : public Exception {
public:
   using Exception::Exception;
};

[[noreturn]] void throwRangeException(const String& text);
[[noreturn]] void throwNameInUseException(const String& text);
[[noreturn]] void throwTypeException(const String& text);

// The name-in-use text for a constructor attribute whose new value differs from the current.
String nameInUseText(const String& attribute, const String& newValue, const String& currentValue);

// The type-error text for a generic request `request` that type `typeName` cannot serve.
String typeErrorText(const String& typeName, const String& request);

}  // namespace Kiv

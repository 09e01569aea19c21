#include "platform/framework/kiv/errors.h"

namespace Kiv {

void throwRangeException(const String& text) { throw RangeException(text); }

void throwNameInUseException(const String& text) { throw NameInUseException(text); }

void throwTypeException(const String& text) { throw TypeException(text); }

String nameInUseText(const String& attribute, const String& newValue, const String& currentValue) {
   return "Reinstantiating the pointer interface where constructor parameter attribute _" +
          attribute + " has a different value of " + newValue + " than the current value of " +
          currentValue + " not allowed";
}

String typeErrorText(const String& typeName, const String& request) {
   return "unsupported operation '" + request + "' for type '" + typeName + "'";
}

}  // namespace Kiv

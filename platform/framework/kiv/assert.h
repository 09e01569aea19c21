#pragma once

#include <stdexcept>

#include "platform/framework/kiv/string.h"

namespace Kiv {

// What a failed fatal assertion knows about itself.
struct AssertionSite {
   const char* expression;  // the failed expression's source text
   const char* file;
   int line;
   const char* function;  // the operation's full signature (__PRETTY_FUNCTION__)
};

// The line written to the standard error stream before the process stops.
String assertionLine(const AssertionSite& site);
// The operation's signature as the agent prints it whatever the compiler: clang's
// "const T &" and "(anonymous namespace)" read as GCC writes them, "const T&" and
// "{anonymous}".
String signatureText(const char* prettyFunction);

// Called on a failed assertion. The default handler writes assertionLine() to the standard
// error stream and aborts. A handler must not return; if it does, the process aborts.
using AssertionHandler = void (*)(const AssertionSite& site);

// Installs `handler` (null restores the default) and returns the previous one.
AssertionHandler assertionHandlerIs(AssertionHandler handler);

[[noreturn]] void assertionFailed(const AssertionSite& site);

// Thrown by throwingAssertionHandler, which tests install to check an assertion's text
// without a death test.
class AssertionFailure : public std::logic_error {
public:
   explicit AssertionFailure(const AssertionSite& site);
   const String& expression() const { return expression_; }
   const String& function() const { return function_; }

private:
   String expression_;
   String function_;
};

[[noreturn]] void throwingAssertionHandler(const AssertionSite& site);

}  // namespace Kiv

// Fatal assertion: stops the agent naming the expression, the source position and the
// calling operation's full signature. Never compiled out.
#define KIV_ASSERT(expr)                                                            \
   do {                                                                             \
      if (!(expr)) {                                                                \
         ::Kiv::assertionFailed(                                                    \
             ::Kiv::AssertionSite{#expr, __FILE__, __LINE__, __PRETTY_FUNCTION__}); \
      }                                                                             \
   } while (0)

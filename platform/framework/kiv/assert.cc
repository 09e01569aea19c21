#include "platform/framework/kiv/assert.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace Kiv {
namespace {

void abortingHandler(const AssertionSite& site) {
   const String line = assertionLine(site);
   std::fprintf(stderr, "%s\n", line.c_str());
   std::fflush(stderr);
   std::abort();
}

std::atomic<AssertionHandler> currentHandler{&abortingHandler};

}  // namespace

String assertionLine(const AssertionSite& site) {
   return format("%s:%d: %s: Assertion `%s' failed.", site.file, site.line, site.function,
                 site.expression);
}

AssertionHandler assertionHandlerIs(AssertionHandler handler) {
   return currentHandler.exchange(handler ? handler : &abortingHandler);
}

void assertionFailed(const AssertionSite& site) {
   currentHandler.load()(site);
   std::abort();
}

AssertionFailure::AssertionFailure(const AssertionSite& site)
    : std::logic_error(assertionLine(site)),
      expression_(site.expression),
      function_(site.function) {}

void throwingAssertionHandler(const AssertionSite& site) { throw AssertionFailure(site); }

}  // namespace Kiv

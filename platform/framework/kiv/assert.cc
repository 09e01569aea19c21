#include "platform/framework/kiv/assert.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string_view>

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
   return format("%s:%d: %s: Assertion `%s' failed.", site.file, site.line,
                 signatureText(site.function).c_str(), site.expression);
}

String signatureText(const char* prettyFunction) {
   String text = prettyFunction;
   const auto replaceAll = [&text](std::string_view from, std::string_view to) {
      for (size_t at = text.find(from); at != String::npos; at = text.find(from, at + to.size())) {
         text.replace(at, from.size(), to);
      }
   };
   replaceAll("(anonymous namespace)", "{anonymous}");
   replaceAll(" &", "&");
   replaceAll(" *", "*");
   return text;
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
      function_(signatureText(site.function)) {}

void throwingAssertionHandler(const AssertionSite& site) { throw AssertionFailure(site); }

}  // namespace Kiv

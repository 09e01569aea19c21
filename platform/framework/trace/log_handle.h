#pragma once

#include <cstddef>
#include <string_view>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"

namespace Kiv {

// Event log severities, numbered as syslog numbers them.
enum class LogSeverity : U8 {
   emergency = 0,
   alert = 1,
   critical = 2,
   error = 3,
   warning = 4,
   notice = 5,
   informational = 6,
   debug = 7,
};

// Standard recommended-action texts.
inline constexpr char NoActionRequired[] = "No action is required.";
inline constexpr char CallSupportIfPersists[] =
    "Contact your customer support representative if this message persists.";

// The definition of one event log message: its name, severity, text and the advice shown
// with it. Defining a handle raises nothing; Kiv::log() does.
class LogHandle {
public:
   // `format` holds exactly one "%s", where each raise puts its argument; any other count is
   // a fatal assertion. Other '%' characters are plain text. The two intervals and the flag
   // are the framework's rate-limiting parameters, kept for it and not acted on here.
   LogHandle(String name, LogSeverity severity, String format, String explanation,
             String recommendedAction, double minInterval, double maxInterval, int flag);

   const String& name() const { return name_; }
   LogSeverity severity() const { return severity_; }
   const String& format() const { return format_; }
   const String& explanation() const { return explanation_; }
   const String& recommendedAction() const { return recommendedAction_; }
   double minInterval() const { return minInterval_; }
   double maxInterval() const { return maxInterval_; }
   int flag() const { return flag_; }

   // The message text with `argument` in place of the "%s".
   String text(std::string_view argument) const;

private:
   String name_;
   LogSeverity severity_;
   String format_;
   String explanation_;
   String recommendedAction_;
   double minInterval_;
   double maxInterval_;
   int flag_;
   std::size_t placeholder_;  // offset of the "%s" in format_
};

}  // namespace Kiv

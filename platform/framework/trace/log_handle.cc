#include "platform/framework/trace/log_handle.h"

#include "platform/framework/kiv/assert.h"

namespace Kiv {
namespace {

constexpr std::string_view placeholderText = "%s";

}  // namespace

LogHandle::LogHandle(String name, LogSeverity severity, String format, String explanation,
                     String recommendedAction, double minInterval, double maxInterval, int flag)
    : name_(std::move(name)),
      severity_(severity),
      format_(std::move(format)),
      explanation_(std::move(explanation)),
      recommendedAction_(std::move(recommendedAction)),
      minInterval_(minInterval),
      maxInterval_(maxInterval),
      flag_(flag),
      placeholder_(format_.find(placeholderText)) {
   KIV_ASSERT(placeholder_ != String::npos &&
              format_.find(placeholderText, placeholder_ + placeholderText.size()) == String::npos);
}

String LogHandle::text(std::string_view argument) const {
   String out;
   out.reserve(format_.size() - placeholderText.size() + argument.size());
   out.append(format_, 0, placeholder_);
   out.append(argument);
   out.append(format_, placeholder_ + placeholderText.size());
   return out;
}

}  // namespace Kiv

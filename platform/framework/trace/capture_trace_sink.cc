#include "platform/framework/trace/capture_trace_sink.h"

namespace Kiv {

CaptureTraceSink::CaptureTraceSink() : previous_(traceSinkIs(this)) {}

CaptureTraceSink::~CaptureTraceSink() { traceSinkIs(previous_); }

void CaptureTraceSink::write(const TraceMessage& message) {
   messages_.push_back(CapturedTrace{String(message.facility), message.level, String(message.file),
                                     message.line, String(message.function), String(message.text)});
}

std::vector<String> CaptureTraceSink::texts() const {
   std::vector<String> out;
   out.reserve(messages_.size());
   for (const CapturedTrace& message : messages_) out.push_back(message.text);
   return out;
}

}  // namespace Kiv

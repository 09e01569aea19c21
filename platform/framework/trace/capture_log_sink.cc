#include "platform/framework/trace/capture_log_sink.h"

namespace Kiv {

CaptureLogSink::CaptureLogSink() : previous_(logSinkIs(this)) {}

CaptureLogSink::~CaptureLogSink() { logSinkIs(previous_); }

}  // namespace Kiv

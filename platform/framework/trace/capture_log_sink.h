#pragma once

#include <vector>

#include "platform/framework/trace/event_log.h"

namespace Kiv {

// Records every event log message while it lives: installs itself on construction and puts
// the previous sink back on destruction. Captures nest and must end in reverse order of
// start. Read records() only while no other thread is logging.
class CaptureLogSink : public LogSink {
public:
   CaptureLogSink();
   ~CaptureLogSink() override;
   CaptureLogSink(const CaptureLogSink&) = delete;
   CaptureLogSink& operator=(const CaptureLogSink&) = delete;

   void write(const LogRecord& record) override { records_.push_back(record); }

   const std::vector<LogRecord>& records() const { return records_; }

private:
   LogSink* previous_;
   std::vector<LogRecord> records_;
};

}  // namespace Kiv

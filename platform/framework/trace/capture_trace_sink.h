#pragma once

#include <vector>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/framework/trace/trace_sink.h"

namespace Kiv {

// An owned copy of one trace message.
struct CapturedTrace {
   String facility;
   U32 level;
   String file;
   int line;
   String function;
   String text;

   bool operator==(const CapturedTrace&) const = default;
};

// Records every trace message while it lives: installs itself on construction and puts the
// previous sink back on destruction. Captures nest and must end in reverse order of start.
// Read messages() only while no other thread is tracing.
class CaptureTraceSink : public TraceSink {
public:
   CaptureTraceSink();
   ~CaptureTraceSink() override;
   CaptureTraceSink(const CaptureTraceSink&) = delete;
   CaptureTraceSink& operator=(const CaptureTraceSink&) = delete;

   void write(const TraceMessage& message) override;

   const std::vector<CapturedTrace>& messages() const { return messages_; }
   // The texts alone, oldest first.
   std::vector<String> texts() const;

private:
   TraceSink* previous_;
   std::vector<CapturedTrace> messages_;
};

}  // namespace Kiv

#pragma once

#include <cstdint>
#include <mutex>
#include <ostream>

#include "platform/framework/trace/event_log.h"

namespace Simulator {

// Event-log messages as "%NAME: text (module M, uid U)", one line each, with what the agent had
// in hand when it raised them beside the text (where it had something), and a run of one
// message (by name) cut short: a generate that finds the TCAM full raises the same message,
// naming another key each time, for every rule that does not fit, tens of thousands of times.
// The first few of a run are written whole and the rest counted; the count is written as
// "%NAME: repeated N more times, the last: text" when another message comes, at flush(), and
// when the sink goes. As JSON Lines, {"event":"log","name":...,"text":...,"module":M,"uid":U}
// and {"event":"logRepeated","name":...,"more":N,"last":{...}}.
class RepeatCollapsingLog : public Kiv::LogSink {
public:
   enum class Format { text, json };
   // How many messages of a run are written whole.
   static constexpr uint64_t writtenPerRun = 3;

   explicit RepeatCollapsingLog(std::ostream& out, Format format = Format::text)
       : out_(out), format_(format) {}
   ~RepeatCollapsingLog() override;

   void write(const Kiv::LogRecord& record) override;
   // Writes how many messages of the run went uncounted since, if any did, and starts a new
   // run.
   void flush();

private:
   void recordWritten(const Kiv::LogRecord& record);
   void repeatsWritten();

   std::mutex mutex_;
   std::ostream& out_;
   const Format format_;
   Kiv::String runName_;
   uint64_t runLength_ = 0;
   Kiv::LogRecord last_;
};

}  // namespace Simulator

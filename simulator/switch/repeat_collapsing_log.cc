#include "simulator/switch/repeat_collapsing_log.h"

namespace Simulator {

RepeatCollapsingLog::~RepeatCollapsingLog() { flush(); }

void RepeatCollapsingLog::write(const Kiv::LogRecord& record) {
   const std::lock_guard<std::mutex> hold(mutex_);
   if (record.name != runName_) {
      repeatsWritten();
      runName_ = record.name;
   }
   if (++runLength_ <= writtenPerRun) {
      out_ << "%" << record.name << ": " << record.text << std::endl;
   } else {
      lastText_ = record.text;
   }
}

void RepeatCollapsingLog::flush() {
   const std::lock_guard<std::mutex> hold(mutex_);
   repeatsWritten();
}

void RepeatCollapsingLog::repeatsWritten() {
   if (runLength_ > writtenPerRun) {
      const uint64_t more = runLength_ - writtenPerRun;
      out_ << "%" << runName_ << ": repeated " << more << (more == 1 ? " more time" : " more times")
           << ", the last: " << lastText_ << std::endl;
   }
   runName_.clear();
   runLength_ = 0;
}

}  // namespace Simulator

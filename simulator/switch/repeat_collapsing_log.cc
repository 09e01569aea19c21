#include "simulator/switch/repeat_collapsing_log.h"

namespace Simulator {
namespace {

// "text (module 1, uid 7)": the message keeps its text.
Kiv::String textWithContext(const Kiv::LogRecord& record) {
   Kiv::String text = record.text;
   const Kiv::LogContext& context = record.context;
   if (context.module == 0 && context.uid == 0) return text;
   text += " (";
   if (context.module != 0) text += "module " + std::to_string(context.module);
   if (context.module != 0 && context.uid != 0) text += ", ";
   if (context.uid != 0) text += "uid " + std::to_string(context.uid);
   return text + ")";
}

}  // namespace

RepeatCollapsingLog::~RepeatCollapsingLog() { flush(); }

void RepeatCollapsingLog::write(const Kiv::LogRecord& record) {
   const std::lock_guard<std::mutex> hold(mutex_);
   if (record.name != runName_) {
      repeatsWritten();
      runName_ = record.name;
   }
   if (++runLength_ <= writtenPerRun) {
      out_ << "%" << record.name << ": " << textWithContext(record) << std::endl;
   } else {
      lastText_ = textWithContext(record);
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

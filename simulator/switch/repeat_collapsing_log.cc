#include "simulator/switch/repeat_collapsing_log.h"

#include <nlohmann/json.hpp>

namespace Simulator {
namespace {

using Json = nlohmann::ordered_json;

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

Json recordJson(const Kiv::LogRecord& record) {
   Json fields{{"name", record.name}, {"text", record.text}};
   if (record.context.module != 0) fields["module"] = record.context.module;
   if (record.context.uid != 0) fields["uid"] = record.context.uid;
   return fields;
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
      recordWritten(record);
   } else {
      last_ = record;
   }
}

void RepeatCollapsingLog::flush() {
   const std::lock_guard<std::mutex> hold(mutex_);
   repeatsWritten();
}

void RepeatCollapsingLog::recordWritten(const Kiv::LogRecord& record) {
   if (format_ == Format::json) {
      Json line{{"event", "log"}};
      line.update(recordJson(record));
      out_ << line.dump() << std::endl;
   } else {
      out_ << "%" << record.name << ": " << textWithContext(record) << std::endl;
   }
}

void RepeatCollapsingLog::repeatsWritten() {
   if (runLength_ > writtenPerRun) {
      const uint64_t more = runLength_ - writtenPerRun;
      if (format_ == Format::json) {
         out_ << Json{{"event", "logRepeated"},
                      {"name", runName_},
                      {"more", more},
                      {"last", recordJson(last_)}}
                     .dump()
              << std::endl;
      } else {
         out_ << "%" << runName_ << ": repeated " << more
              << (more == 1 ? " more time" : " more times")
              << ", the last: " << textWithContext(last_) << std::endl;
      }
   }
   runName_.clear();
   runLength_ = 0;
}

}  // namespace Simulator

#include "simulator/switch/repeat_collapsing_log.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

Kiv::LogRecord record(const char* name, const std::string& text, Kiv::LogContext context = {}) {
   return {name, Kiv::LogSeverity::error, text, context};
}

// A run of one message is written whole three times and then counted, until another message
// comes, a flush, or the end of the log; a flush starts a new run.
TEST(RepeatCollapsingLogTest, ARunOfOneMessageIsCutShortAndCounted) {
   std::ostringstream out;
   {
      Simulator::RepeatCollapsingLog log(out);
      for (int uid = 1; uid <= 6; ++uid) log.write(record("FULL", "uid " + std::to_string(uid)));
      log.write(record("OTHER", "a"));
      for (int uid = 7; uid <= 10; ++uid) log.write(record("FULL", "uid " + std::to_string(uid)));
      log.flush();
      log.flush();
      for (int uid = 11; uid <= 15; ++uid) log.write(record("FULL", "uid " + std::to_string(uid)));
   }
   EXPECT_EQ(out.str(),
             "%FULL: uid 1\n%FULL: uid 2\n%FULL: uid 3\n"
             "%FULL: repeated 3 more times, the last: uid 6\n"
             "%OTHER: a\n"
             "%FULL: uid 7\n%FULL: uid 8\n%FULL: uid 9\n"
             "%FULL: repeated 1 more time, the last: uid 10\n"
             "%FULL: uid 11\n%FULL: uid 12\n%FULL: uid 13\n"
             "%FULL: repeated 2 more times, the last: uid 15\n");
}

// The message keeps its text; the module and uid the agent had in hand go beside it.
TEST(RepeatCollapsingLogTest, WhatTheAgentHadInHandGoesBesideTheText) {
   std::ostringstream out;
   {
      Simulator::RepeatCollapsingLog log(out);
      log.write(record("FULL", "key <a>", {1, 7}));
      log.write(record("OTHER", "b", {0, 9}));
      for (U32 uid = 1; uid <= 4; ++uid) log.write(record("FULL", "key", {2, uid}));
   }
   EXPECT_EQ(out.str(),
             "%FULL: key <a> (module 1, uid 7)\n%OTHER: b (uid 9)\n"
             "%FULL: key (module 2, uid 1)\n%FULL: key (module 2, uid 2)\n"
             "%FULL: key (module 2, uid 3)\n"
             "%FULL: repeated 1 more time, the last: key (module 2, uid 4)\n");
}

TEST(RepeatCollapsingLogTest, AsJsonLinesEachMessageAndEachCountIsAnObject) {
   std::ostringstream out;
   {
      Simulator::RepeatCollapsingLog log(out, Simulator::RepeatCollapsingLog::Format::json);
      for (U32 uid = 1; uid <= 5; ++uid) log.write(record("FULL", "key", {2, uid}));
   }
   EXPECT_EQ(out.str(),
             R"({"event":"log","name":"FULL","text":"key","module":2,"uid":1})"
             "\n"
             R"({"event":"log","name":"FULL","text":"key","module":2,"uid":2})"
             "\n"
             R"({"event":"log","name":"FULL","text":"key","module":2,"uid":3})"
             "\n"
             R"({"event":"logRepeated","name":"FULL","more":2,)"
             R"("last":{"name":"FULL","text":"key","module":2,"uid":5}})"
             "\n");
}

}  // namespace

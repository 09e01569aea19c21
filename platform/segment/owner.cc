#include "platform/segment/owner.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "platform/segment/segment_exception.h"

namespace Segment {
namespace {

struct ProcessStat {
   char state;
   U64 startTime;
};

// The process's state and start time, or nothing when there is no such process. The command
// name (field 2) may hold blanks and parentheses, so the fields are counted from its last ')'.
std::optional<ProcessStat> processStat(pid_t pid) {
   std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
   const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
   const std::size_t nameEnd = text.rfind(')');
   if (nameEnd == std::string::npos) return std::nullopt;
   std::istringstream fields(text.substr(nameEnd + 1));
   ProcessStat stat{};
   fields >> stat.state;
   std::string skipped;
   for (int field = 4; field < 22; ++field) fields >> skipped;
   fields >> stat.startTime;
   if (!fields) return std::nullopt;
   return stat;
}

}  // namespace

// Kept per pid, since a forked child is another process with the parent's memory.
Owner Owner::self() {
   static std::atomic<pid_t> knownPid{0};
   static std::atomic<U64> knownStartTime{0};
   const pid_t pid = getpid();
   if (knownPid.load(std::memory_order_acquire) == pid) return Owner{pid, knownStartTime.load()};
   const std::optional<ProcessStat> stat = processStat(pid);
   if (!stat) throw SegmentException("cannot read /proc/" + std::to_string(pid) + "/stat");
   knownStartTime.store(stat->startTime);
   knownPid.store(pid, std::memory_order_release);
   return Owner{pid, stat->startTime};
}

bool Owner::alive() const {
   const std::optional<ProcessStat> stat = processStat(pid);
   return stat && stat->state != 'Z' && stat->state != 'X' && stat->startTime == startTime;
}

}  // namespace Segment

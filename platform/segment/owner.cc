#include "platform/segment/owner.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
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
// Read with plain calls: every agent start checks the holders of each table it mounts.
std::optional<ProcessStat> processStat(pid_t pid) {
   const std::string path = "/proc/" + std::to_string(pid) + "/stat";
   const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
   if (fd < 0) return std::nullopt;
   char text[1024];
   const ssize_t length = read(fd, text, sizeof text - 1);
   close(fd);
   if (length <= 0) return std::nullopt;
   text[length] = '\0';
   const char* nameEnd = std::strrchr(text, ')');
   if (!nameEnd || nameEnd[1] != ' ' || nameEnd[2] == '\0') return std::nullopt;
   ProcessStat stat{nameEnd[2], 0};
   const char* field = nameEnd + 2;  // the state, field 3
   for (int number = 3; number < 22; ++number) {
      field = std::strchr(field, ' ');
      if (!field) return std::nullopt;
      ++field;
   }
   char* fieldEnd = nullptr;
   stat.startTime = std::strtoull(field, &fieldEnd, 10);
   if (fieldEnd == field) return std::nullopt;
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
   if (pid <= 0) return false;
   // A pid no process has needs no look at its start time.
   if (kill(pid, 0) != 0 && errno == ESRCH) return false;
   const std::optional<ProcessStat> stat = processStat(pid);
   return stat && stat->state != 'Z' && stat->state != 'X' && stat->startTime == startTime;
}

}  // namespace Segment

#include "simulator/switch/agent_supervisor.h"

#include <signal.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace Simulator {
namespace {

std::string endOf(int status) {
   if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
   return "exit status " + std::to_string(WEXITSTATUS(status));
}

[[noreturn]] void throwSystemError(int error, const char* what) {
   throw std::system_error(error, std::generic_category(), what);
}

}  // namespace

AgentSupervisor::AgentSupervisor(std::string program, std::string segment, std::string socket,
                                 std::vector<std::string> arguments, std::string output)
    : program_(std::move(program)),
      segment_(std::move(segment)),
      socket_(std::move(socket)),
      arguments_(std::move(arguments)),
      output_(std::move(output)) {}

AgentSupervisor::~AgentSupervisor() {
   try {
      doKill();
   } catch (const std::exception&) {
      // A launcher that is gone took its agent with it.
   }
   if (launcher_ != 0) {
      // The launcher ends when its control socket does.
      ::close(control_);
      while (::waitpid(launcher_, nullptr, 0) < 0 && errno == EINTR) {
      }
   }
   ::unlink(socket_.c_str());
}

void AgentSupervisor::launcherStart() {
   std::vector<std::string> words{program_, "agent", "--launcher", "--segment",
                                  segment_, "--socket", socket_};
   words.insert(words.end(), arguments_.begin(), arguments_.end());
   // Made before the vfork: between vfork and exec the child only makes system calls. A fork
   // would mark every page of this process copy-on-write, and the driver's every first write
   // to one afterwards would fault, while it publishes megabytes for the agent to commit.
   std::vector<char*> argv;
   for (std::string& word : words) argv.push_back(word.data());
   argv.push_back(nullptr);
   int ends[2];
   if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
      throwSystemError(errno, "agent launcher: socketpair");
   }
   const pid_t parent = ::getpid();
   const pid_t pid = ::vfork();
   if (pid < 0) {
      const int error = errno;
      ::close(ends[0]);
      ::close(ends[1]);
      throwSystemError(error, "agent launcher: fork");
   }
   if (pid == 0) {
      // The launcher, and every agent it forks, dies with the switch.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(127);
      if (!output_.empty()) {
         const int file = ::open(output_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
         if (file < 0) ::_exit(127);
         ::dup2(file, STDERR_FILENO);
      }
      ::dup2(STDERR_FILENO, STDOUT_FILENO);
      // dup2 onto itself would keep close-on-exec.
      if (ends[1] == launcherControlDescriptor) {
         ::fcntl(ends[1], F_SETFD, 0);
      } else {
         ::dup2(ends[1], launcherControlDescriptor);
      }
      ::syscall(SYS_close_range, unsigned(launcherControlDescriptor) + 1, ~0U, 0U);
      ::execv(argv[0], argv.data());
      ::_exit(127);
   }
   ::close(ends[1]);
   launcher_ = pid;
   control_ = ends[0];
}

void AgentSupervisor::doStart(bool warm) {
   if (launcher_ == 0) launcherStart();
   const char request = warm ? 'w' : 'c';
   if (::send(control_, &request, 1, MSG_NOSIGNAL) != 1) launcherLost();
   LauncherReport report{};
   while (reportNext(report, true)) {
      if (report.kind != LauncherReport::Kind::started) continue;
      if (report.pid < 0) throwSystemError(-report.pid, "agent launcher: fork");
      pid_ = report.pid;
      return;
   }
}

void AgentSupervisor::doKill() {
   if (pid_ == 0) return;
   ::kill(pid_, SIGKILL);
   LauncherReport report{};
   while (pid_ != 0 && reportNext(report, true)) ended(report);
}

bool AgentSupervisor::doReapDead() {
   LauncherReport report{};
   while (pid_ != 0 && reportNext(report, false)) {
      ended(report);
      if (pid_ == 0) return true;
   }
   return false;
}

bool AgentSupervisor::reportNext(LauncherReport& report, bool wait) {
   for (;;) {
      const ssize_t got = ::recv(control_, &report, sizeof(report), wait ? 0 : MSG_DONTWAIT);
      if (got == sizeof(report)) return true;
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
      launcherLost();
   }
}

// A launcher is never meant to go before the switch: it took the agent with it.
void AgentSupervisor::launcherLost() {
   int status = 0;
   while (::waitpid(launcher_, &status, 0) < 0 && errno == EINTR) {
   }
   ::close(control_);
   control_ = -1;
   launcher_ = 0;
   pid_ = 0;
   throw std::runtime_error("the agent launcher ended: " + endOf(status));
}

void AgentSupervisor::ended(const LauncherReport& report) {
   if (report.kind != LauncherReport::Kind::ended || report.pid != pid_) return;
   lastEnd_ = endOf(report.status);
   pid_ = 0;
}

}  // namespace Simulator

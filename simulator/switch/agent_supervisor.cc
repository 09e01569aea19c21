#include "simulator/switch/agent_supervisor.h"

#include <signal.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace Simulator {
namespace {

std::string endOf(int status) {
   if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
   return "exit status " + std::to_string(WEXITSTATUS(status));
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
   doKill();
   ::unlink(socket_.c_str());
}

void AgentSupervisor::doStart(bool warm) {
   std::vector<std::string> words{program_, "agent",   "--segment",
                                  segment_, "--socket", socket_,
                                  warm ? "--warm" : "--cold"};
   words.insert(words.end(), arguments_.begin(), arguments_.end());
   // Made before the fork: between fork and exec the child only makes system calls.
   std::vector<char*> argv;
   for (std::string& word : words) argv.push_back(word.data());
   argv.push_back(nullptr);
   const pid_t parent = ::getpid();
   const pid_t pid = ::fork();
   if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
   if (pid == 0) {
      // An agent whose switch is gone has nothing to serve.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(127);
      if (!output_.empty()) {
         const int file = ::open(output_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
         if (file < 0) ::_exit(127);
         ::dup2(file, STDERR_FILENO);
      }
      ::dup2(STDERR_FILENO, STDOUT_FILENO);
      ::syscall(SYS_close_range, 3U, ~0U, 0U);
      ::execv(argv[0], argv.data());
      ::_exit(127);
   }
   pid_ = pid;
}

void AgentSupervisor::doKill() {
   if (pid_ == 0) return;
   ::kill(pid_, SIGKILL);
   int status = 0;
   while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
   }
   lastEnd_ = endOf(status);
   pid_ = 0;
}

bool AgentSupervisor::doReapDead() {
   if (pid_ == 0) return false;
   int status = 0;
   if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
   lastEnd_ = endOf(status);
   pid_ = 0;
   return true;
}

}  // namespace Simulator

#include "simulator/switch/agent_launcher.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>

namespace Simulator {
namespace {

bool sent(int control, const LauncherReport& report) {
   return ::send(control, &report, sizeof(report), MSG_NOSIGNAL) == sizeof(report);
}

// Every agent that ended since the last look, reaped.
bool endsReported(int control) {
   int status = 0;
   pid_t pid = 0;
   while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
      if (!sent(control, {LauncherReport::Kind::ended, pid, status})) return false;
   }
   return true;
}

}  // namespace

int runAgentLauncher(int control, const std::function<int(bool warm)>& agent) {
   const pid_t launcher = ::getpid();
   // A Ctrl-C reaches the whole process group; the supervisor stops on it and then closes
   // the control socket, which ends the launcher. Its agents take the signals as before.
   constexpr int stopSignals[] = {SIGINT, SIGTERM};
   for (const int stop : stopSignals) ::signal(stop, SIG_IGN);
   sigset_t childEnds;
   sigset_t before;
   ::sigemptyset(&childEnds);
   ::sigaddset(&childEnds, SIGCHLD);
   ::sigprocmask(SIG_BLOCK, &childEnds, &before);
   const int ends = ::signalfd(-1, &childEnds, SFD_CLOEXEC | SFD_NONBLOCK);
   if (ends < 0) {
      std::cerr << "tessel-nat agent launcher: cannot watch its agents\n";
      return 1;
   }
   for (;;) {
      pollfd watched[2] = {{control, POLLIN, 0}, {ends, POLLIN, 0}};
      if (::poll(watched, 2, -1) < 0) {
         if (errno == EINTR) continue;
         return 1;
      }
      if (watched[1].revents != 0) {
         signalfd_siginfo signal;
         while (::read(ends, &signal, sizeof(signal)) == sizeof(signal)) {
         }
         if (!endsReported(control)) return 0;
      }
      if (watched[0].revents == 0) continue;
      char request = 0;
      if (::recv(control, &request, 1, 0) != 1) return 0;  // the supervisor is gone
      const pid_t pid = ::fork();
      const pid_t started = pid < 0 ? -errno : pid;
      if (pid == 0) {
         ::close(control);
         ::close(ends);
         ::sigprocmask(SIG_SETMASK, &before, nullptr);
         for (const int stop : stopSignals) ::signal(stop, SIG_DFL);
         ::prctl(PR_SET_PDEATHSIG, SIGKILL);
         if (::getppid() != launcher) ::_exit(127);
         std::exit(agent(request == 'w'));
      }
      if (!sent(control, {LauncherReport::Kind::started, started, 0})) return 0;
   }
}

}  // namespace Simulator

#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <string>

namespace TestSupport {

// A child process that runs `body`, which says something on the descriptor it is given and
// then works or waits until it is killed; the constructor returns once it has spoken. Killed,
// the child stays a zombie until this object goes, as a killed agent stays until its parent
// reaps it.
struct Child {
   template <class Body>
   explicit Child(Body body) {
      std::array<int, 2> pipeEnds{};
      EXPECT_EQ(pipe(pipeEnds.data()), 0);
      pid = fork();
      if (pid == 0) {
         body(pipeEnds[1]);
         _exit(0);
      }
      close(pipeEnds[1]);
      std::array<char, 256> text{};
      EXPECT_GT(read(pipeEnds[0], text.data(), text.size() - 1), 0);
      close(pipeEnds[0]);
      said = text.data();
   }
   ~Child() {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
   }
   void doKill() {
      kill(pid, SIGKILL);
      siginfo_t info{};
      waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
   }

   pid_t pid = 0;
   std::string said;
};

}  // namespace TestSupport

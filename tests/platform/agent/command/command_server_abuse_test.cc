#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "platform/agent/command/command_server.h"
#include "platform/framework/kiv/activity_lock.h"

namespace {

using namespace std::chrono_literals;

constexpr std::size_t bigAnswerBytes = 1 << 20;
constexpr std::size_t answerPiece = 64 * 1024;

// Larger than any socket buffer, so that writing it outlasts a client that leaves meanwhile.
Kiv::String bigAnswer(const Kiv::String& command) {
   Kiv::String answer = "answer to " + command + "\n";
   answer.resize(bigAnswerBytes - 1, 'z');
   return answer + "\n";
}

// Answers as real callbacks do, with plain blocking writes, and in pieces, so that
// `afterFirstPiece` can make a client leave while its answer is being written. A request
// whose text ends in " big" gets bigAnswer().
class AnsweringCallback : public Agent::AgentCommandCallback {
public:
   AnsweringCallback() : Agent::AgentCommandCallback("show", "show") {}

   void handleCommand(U32 socket, Kiv::String command) override {
      const Kiv::String answer =
          command.ends_with(" big") ? bigAnswer(command) : "answer to " + command + "\n";
      int error = 0;
      for (std::size_t written = 0; written < answer.size() && error == 0;) {
         const ssize_t n = ::write(static_cast<int>(socket), answer.data() + written,
                                   std::min(answerPiece, answer.size() - written));
         if (n < 0 && errno != EINTR) error = errno;
         if (n <= 0) continue;
         if (written == 0 && afterFirstPiece) afterFirstPiece(command);
         written += static_cast<std::size_t>(n);
      }
      writeEnds[command].push_back(error);
   }

   std::function<void(const Kiv::String&)> afterFirstPiece;
   // Per command, how the writing of each of its answers ended: 0 or the failed write's errno.
   std::map<Kiv::String, std::vector<int>> writeEnds;
};

// Connects and sends its whole request at once, then reads without blocking.
struct Client {
   Client(const Kiv::String& path, const Kiv::String& request) {
      sockaddr_un address{AF_UNIX, {}};
      std::strcpy(address.sun_path, path.c_str());
      EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
      if (!request.empty()) {
         EXPECT_EQ(::send(fd, request.data(), request.size(), 0), ssize_t(request.size()));
      }
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
   }
   ~Client() { doClose(); }
   Client(const Client&) = delete;

   void doClose() {
      if (fd >= 0) ::close(fd);
      fd = -1;
   }
   // Takes what has arrived. A server that closes with request bytes unread resets the connection
   // instead of ending it, once the answer is read.
   void doRead() {
      char chunk[64 * 1024];
      ssize_t n;
      while (!ended && (n = ::recv(fd, chunk, sizeof(chunk), 0)) != 0) {
         if (n < 0 && errno == ECONNRESET) break;
         if (n < 0) return;
         received.append(chunk, std::size_t(n));
      }
      ended = true;
   }
   // Bounded, so that a server that never closes fails the test instead of hanging it.
   void doReadUntilEnd() {
      for (pollfd wait{fd, POLLIN, 0}; !ended && ::poll(&wait, 1, 5000) > 0;) doRead();
   }

   int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
   Kiv::String received;
   bool ended = false;
};

// What the callback is handed for a request of type "show": the text after "show ".
Kiv::String commandOf(const Kiv::String& request) {
   return request.substr(5, request.find('\n') - 5);
}

long openDescriptors() {
   return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// Many real clients at once against one server, driven as the agent drives it: doPoll(),
// then the loop with the activity lock held, all on this thread.
class CommandServerAbuseTest : public ::testing::Test {
protected:
   CommandServerAbuseTest() { server.callbackIs(show); }
   ~CommandServerAbuseTest() override { Kiv::eventLoop().workDelAll(); }

   void doServe(std::chrono::milliseconds wait) {
      server.doPoll(wait);
      Kiv::ActivityGuard guard(Kiv::activityLock());
      Kiv::eventLoop().doRunUntilIdle();
   }

   const Kiv::String path =
       ::testing::TempDir() + "command_server_abuse_test." + std::to_string(::getpid());
   Agent::CommandServer server{path, 200ms};
   Kiv::Ptr<AnsweringCallback> show = new AnsweringCallback;
};

TEST_F(CommandServerAbuseTest, FortyClientsAtOnceEachGetTheirDueAndLeaveNothingBehind) {
   enum class Conduct { staysToTheEnd, leavesAfterSending, leavesAfterFirstPoll, leavesMidAnswer };
   struct Plan {
      Kiv::String request;
      Conduct conduct;
      Kiv::String answer;  // what a client that stays to the end receives
      int writeEnd = -1;   // how the callback's answer ends; -1: the callback is not reached
   };
   const std::vector<std::pair<Kiv::String, Kiv::String>> garbage = {
       {"GET / HTTP/1.1\r\n", "module '/' is not a number"},
       {Kiv::String("\x16\0\x01\n", 4), "request contains a NUL byte"},
       {Kiv::String(2 * Agent::maxRequestBytes, 'A'), "request longer than 4096 bytes"},
       {"bogus 1 x\n", "unknown command type 'bogus'"},
       {" \t\n", "no module after command type '\t'"},
   };
   const Kiv::String timedOut = "error: no complete request within 200 ms\n";
   std::vector<Plan> plans;
   for (std::size_t round = 0; round < garbage.size(); ++round) {
      const auto n = [&](int kind) { return std::to_string(round * 8 + kind); };
      const auto& [junk, why] = garbage[round];
      plans.push_back(
          {"show " + n(0) + " ping\n", Conduct::staysToTheEnd, "answer to " + n(0) + " ping\n", 0});
      plans.push_back({"show " + n(1) + " ping\n" + Kiv::String(3000, '#'), Conduct::staysToTheEnd,
                       "answer to " + n(1) + " ping\n", 0});
      plans.push_back({junk, Conduct::staysToTheEnd, "error: " + why + "\n"});
      plans.push_back({"show " + n(3) + " hal", Conduct::staysToTheEnd, timedOut});
      plans.push_back({"show " + n(4) + " ha", Conduct::leavesAfterFirstPoll, ""});
      plans.push_back({"show " + n(5) + " big\n", Conduct::leavesAfterSending, "", EPIPE});
      plans.push_back({"show " + n(6) + " big\n", Conduct::leavesMidAnswer, "", EPIPE});
      plans.push_back({round % 2 ? "" : junk, Conduct::leavesAfterSending, ""});
   }
   // One well-behaved client takes a big answer, which only a concurrent reader can drain.
   plans.front() = {"show 0 big\n", Conduct::staysToTheEnd, bigAnswer("0 big"), 0};

   const auto descriptors = openDescriptors();
   {
      std::vector<std::unique_ptr<Client>> clients;
      std::map<Kiv::String, Client*> leavingMidAnswer;
      for (const Plan& plan : plans) {
         clients.push_back(std::make_unique<Client>(path, plan.request));
         if (plan.conduct == Conduct::leavesAfterSending) clients.back()->doClose();
         if (plan.conduct == Conduct::leavesMidAnswer) {
            leavingMidAnswer[commandOf(plan.request)] = clients.back().get();
         }
      }
      // The client takes what has arrived before it leaves, so that no unread data resets the
      // connection: the server's next write fails with EPIPE.
      show->afterFirstPiece = [&](const Kiv::String& command) {
         if (const auto found = leavingMidAnswer.find(command); found != leavingMidAnswer.end()) {
            found->second->doRead();
            found->second->doClose();
         }
      };
      std::thread bigReader([&] { clients.front()->doReadUntilEnd(); });

      const auto allEnded = [&] {
         for (std::size_t i = 1; i < clients.size(); ++i) {
            if (clients[i]->fd >= 0 && !clients[i]->ended) return false;
         }
         return true;
      };
      for (int round = 0; round < 200 && (server.connections() > 0 || !allEnded()); ++round) {
         doServe(10ms);
         for (std::size_t i = 1; i < clients.size(); ++i) {
            if (round == 0 && plans[i].conduct == Conduct::leavesAfterFirstPoll) {
               clients[i]->doClose();
            }
            if (clients[i]->fd >= 0) clients[i]->doRead();
         }
      }
      bigReader.join();
      show->afterFirstPiece = nullptr;

      EXPECT_EQ(server.connections(), 0u);
      std::map<Kiv::String, std::vector<int>> writeEnds;
      for (std::size_t i = 0; i < plans.size(); ++i) {
         const Plan& plan = plans[i];
         SCOPED_TRACE(std::to_string(i) + ": " + plan.request.substr(0, 20));
         if (plan.conduct == Conduct::staysToTheEnd) {
            EXPECT_TRUE(clients[i]->ended);
            EXPECT_EQ(clients[i]->received.size(), plan.answer.size());
            EXPECT_TRUE(clients[i]->received == plan.answer);
         }
         if (plan.conduct == Conduct::leavesMidAnswer) {
            EXPECT_EQ(clients[i]->received.size(), answerPiece) << "left after the first piece";
         }
         if (plan.writeEnd >= 0) writeEnds[commandOf(plan.request)].push_back(plan.writeEnd);
      }
      EXPECT_EQ(show->writeEnds, writeEnds);
   }
   EXPECT_EQ(openDescriptors(), descriptors);

   Client after(path, "show 99\n");
   doServe(0ms);
   after.doReadUntilEnd();
   EXPECT_EQ(after.received, "answer to 99 \n");
}

TEST_F(CommandServerAbuseTest, IdleConnectionsBeyondTheLimitAreRefusedAndTheLimitClearsOnTimeout) {
   const std::size_t limit = Agent::CommandServer::maxConnections;
   const auto descriptors = openDescriptors();
   {
      std::vector<std::unique_ptr<Client>> idle;
      for (std::size_t i = 0; i < limit + 8; ++i)
         idle.push_back(std::make_unique<Client>(path, ""));
      doServe(0ms);
      EXPECT_EQ(server.connections(), limit);
      for (int round = 0; round < 100 && server.connections() > 0; ++round) doServe(50ms);
      ASSERT_EQ(server.connections(), 0u);
      for (std::size_t i = 0; i < idle.size(); ++i) {
         SCOPED_TRACE(i);
         idle[i]->doReadUntilEnd();
         EXPECT_EQ(idle[i]->received, i < limit ? "error: no complete request within 200 ms\n"
                                                : "error: too many connections (64)\n");
      }
   }
   EXPECT_EQ(openDescriptors(), descriptors);
   Client after(path, "show 1\n");
   doServe(0ms);
   after.doReadUntilEnd();
   EXPECT_EQ(after.received, "answer to 1 \n");
}

}  // namespace

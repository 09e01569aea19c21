#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "platform/agent/command/command_server.h"
#include "platform/framework/kiv/activity_lock.h"

namespace {

using namespace std::chrono_literals;

// About a show dump of 10000 rules, and far larger than a socket buffer.
constexpr std::size_t bigAnswerBytes = 4 << 20;
constexpr std::size_t answerPiece = 64 * 1024;

Kiv::String bigAnswer(const Kiv::String& command) {
   Kiv::String answer = "answer to " + command + "\n";
   answer.resize(bigAnswerBytes - 1, 'z');
   return answer + "\n";
}

// Answers as real callbacks do, with plain writes, in pieces. A request whose text ends in
// " big" gets bigAnswer().
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
         if (n > 0) written += static_cast<std::size_t>(n);
      }
      writeEnds[command].push_back(error);
   }

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

   void doServe(std::chrono::milliseconds wait) { doServe(server, wait); }
   static void doServe(Agent::CommandServer& at, std::chrono::milliseconds wait) {
      at.doPoll(wait);
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
      Kiv::String answer;    // what a client that stays to the end receives
      bool reached = false;  // the callback is handed the request
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
      plans.push_back({"show " + n(0) + " ping\n", Conduct::staysToTheEnd,
                       "answer to " + n(0) + " ping\n", true});
      plans.push_back({"show " + n(1) + " ping\n" + Kiv::String(3000, '#'), Conduct::staysToTheEnd,
                       "answer to " + n(1) + " ping\n", true});
      plans.push_back({junk, Conduct::staysToTheEnd, "error: " + why + "\n"});
      plans.push_back({"show " + n(3) + " hal", Conduct::staysToTheEnd, timedOut});
      plans.push_back({"show " + n(4) + " ha", Conduct::leavesAfterFirstPoll, ""});
      plans.push_back({"show " + n(5) + " big\n", Conduct::leavesAfterSending, "", true});
      plans.push_back({"show " + n(6) + " big\n", Conduct::leavesMidAnswer, "", true});
      plans.push_back({round % 2 ? "" : junk, Conduct::leavesAfterSending, ""});
   }
   // One well-behaved client takes a big answer, which only a concurrent reader can drain.
   plans.front() = {"show 0 big\n", Conduct::staysToTheEnd, bigAnswer("0 big"), true};

   const auto descriptors = openDescriptors();
   {
      std::vector<std::unique_ptr<Client>> clients;
      for (const Plan& plan : plans) {
         clients.push_back(std::make_unique<Client>(path, plan.request));
         if (plan.conduct == Conduct::leavesAfterSending) clients.back()->doClose();
      }
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
            if (clients[i]->fd < 0) continue;
            clients[i]->doRead();
            // Takes what has arrived before it leaves, so that no unread data resets the
            // connection: the server's next send fails with EPIPE.
            if (plans[i].conduct == Conduct::leavesMidAnswer && !clients[i]->received.empty()) {
               clients[i]->doClose();
            }
         }
      }
      bigReader.join();

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
            EXPECT_LT(clients[i]->received.size(), bigAnswerBytes) << "left mid-answer";
         }
         // Every answer is written whole, whether its client is still there or not.
         if (plan.reached) writeEnds[commandOf(plan.request)].push_back(0);
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

// A client that sent its request and never read froze the agent: each blocked write of its
// answer waited out a send timeout on the agent's thread, and the next client got nothing.
TEST_F(CommandServerAbuseTest, AClientThatDoesNotReadHoldsUpNobodyAndGetsItsAnswerWholeLater) {
   Client silent(path, "show 1 big\n");
   doServe(0ms);
   EXPECT_EQ(show->writeEnds["1 big"], std::vector<int>{0}) << "written at once, in full";
   Client quick(path, "show 2\n");
   doServe(0ms);
   quick.doReadUntilEnd();
   EXPECT_EQ(quick.received, "answer to 2 \n");
   EXPECT_EQ(server.connections(), 1u);

   for (int round = 0; round < 500 && !silent.ended; ++round) {
      doServe(10ms);
      silent.doRead();
   }
   EXPECT_EQ(silent.received.size(), bigAnswerBytes);
   EXPECT_TRUE(silent.received == bigAnswer("1 big"));
   EXPECT_EQ(server.connections(), 0u);
}

// A client that read a little of its answer every while held its connection for as long as it
// kept reading: the send timeout started again with each read.
TEST_F(CommandServerAbuseTest, AClientThatReadsSlowlyIsCutOffAtTheAnswerDeadline) {
   Agent::CommandServer impatient(path + ".impatient", 200ms, 300ms);
   impatient.callbackIs(show);
   Client slow(impatient.path(), "show 1 big\n");
   // Takes what has arrived every other poll of up to 50 ms: the answer keeps moving, a socket
   // buffer at a time, but needs many times the deadline at this pace.
   for (int round = 0; round < 200 && !slow.ended; ++round) {
      doServe(impatient, 50ms);
      if (round % 2 == 1) slow.doRead();
   }
   EXPECT_TRUE(slow.ended);
   EXPECT_GT(slow.received.size(), 0u);
   EXPECT_LT(slow.received.size(), bigAnswerBytes);
   EXPECT_TRUE(bigAnswer("1 big").starts_with(slow.received));
   EXPECT_EQ(impatient.connections(), 0u);
}

}  // namespace

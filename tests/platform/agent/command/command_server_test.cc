#include "platform/agent/command/command_server.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/framework/kiv/activity_lock.h"

namespace {

using namespace std::chrono_literals;

// About a show dump of 10000 rules, and far larger than a socket buffer.
constexpr std::size_t bigAnswerBytes = 4 << 20;

Kiv::String bigAnswer(const Kiv::String& command) {
   Kiv::String answer = "answer to " + command + "\n";
   answer.resize(bigAnswerBytes - 1, 'z');
   return answer + "\n";
}

// Answers as real callbacks do, with plain writes, in pieces, or throws `failure`. A request
// whose text ends in " big" gets bigAnswer().
class FakeCallback : public Agent::AgentCommandCallback {
public:
   explicit FakeCallback(Kiv::String type, Kiv::String failure = "")
       : Agent::AgentCommandCallback(type, type), failure(std::move(failure)) {}

   void handleCommand(U32 socket, Kiv::String command) override {
      lockHeld = Kiv::activityLock().isHeldByThisThread();
      if (!failure.empty()) throw std::runtime_error(failure);
      const Kiv::String answer =
          command.ends_with(" big") ? bigAnswer(command) : "answer to " + command + "\n";
      int error = 0;
      for (std::size_t written = 0; written < answer.size() && error == 0;) {
         const ssize_t n = ::write(static_cast<int>(socket), answer.data() + written,
                                   std::min<std::size_t>(64 * 1024, answer.size() - written));
         if (n < 0 && errno != EINTR) error = errno;
         if (n > 0) written += static_cast<std::size_t>(n);
      }
      writeEnds[command].push_back(error);
   }

   // Per command, how the writing of each of its answers ended: 0 or the failed write's errno.
   std::map<Kiv::String, std::vector<int>> writeEnds;
   bool lockHeld = false;  // on the last call
   const Kiv::String failure;
};

// Connects and sends its whole request at once, then reads without blocking.
struct Client {
   Client(const Kiv::String& path, const Kiv::String& request) {
      sockaddr_un address{AF_UNIX, {}};
      std::strcpy(address.sun_path, path.c_str());
      EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
      EXPECT_EQ(::send(fd, request.data(), request.size(), 0), ssize_t(request.size()));
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
   // Everything written until the server closed the connection. Bounded, so that a server that
   // never closes fails the test instead of hanging it.
   Kiv::String answer() {
      for (pollfd wait{fd, POLLIN, 0}; !ended && ::poll(&wait, 1, 5000) > 0;) doRead();
      EXPECT_TRUE(ended) << "the server did not close the connection";
      return received;
   }

   int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
   Kiv::String received;
   bool ended = false;
};

// Requests refused, malformed or failed by the "fail" callback, and the line each gets.
std::vector<std::pair<Kiv::String, Kiv::String>> badRequests() {
   return {
       {"fail 2 clear\n", "table 'nat' is busy"},
       {"\n", "empty request"},
       {"   \n", "empty request"},
       {"show\n", "no module after command type 'show'"},
       {"show -1 a\n", "module '-1' is not a number"},
       {"show 65536 a\n", "module 65536 out of range (0..65535)"},
       {"show 18446744073709551621\n", "module 18446744073709551621 out of range (0..65535)"},
       {"show 1 " + Kiv::String(Agent::maxRequestBytes - 6, 'x') + "\n",
        "request longer than 4096 bytes"},
       // The last five also come among the many clients at once.
       {"GET / HTTP/1.1\r\n", "module '/' is not a number"},
       {Kiv::String("\x16\0\x01\n", 4), "request contains a NUL byte"},
       {Kiv::String(2 * Agent::maxRequestBytes, 'A'), "request longer than 4096 bytes"},
       {"bogus 1 x\n", "unknown command type 'bogus'"},
       {" \t\n", "no module after command type '\t'"},
   };
}

long openDescriptors() {
   return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// Real clients against a real socket, served on the agent's loop, all on this thread.
class CommandServerTest : public ::testing::Test {
protected:
   CommandServerTest() { server.callbackIs(show); }
   ~CommandServerTest() override { Kiv::eventLoop().workDelAll(); }

   Kiv::String ask(const Kiv::String& request) {
      Client client(path, request);
      loop.doPoll();
      return client.answer();
   }

   const Kiv::String path =
       ::testing::TempDir() + "command_server_test." + std::to_string(::getpid());
   const Kiv::String otherPath = path + ".other";
   Agent::AgentLoop loop;
   Agent::CommandServer server{loop, path, 200ms};
   Kiv::Ptr<FakeCallback> show = new FakeCallback("show");
};

TEST_F(CommandServerTest, HandsTheCallbackModuleAndTextVerbatimAndClosesAfterItsAnswer) {
   const Kiv::String longest = "show 1 " + Kiv::String(Agent::maxRequestBytes - 7, 'x');
   const std::vector<std::pair<Kiv::String, Kiv::String>> cases = {
       {"show 3 nat  table detail \n", "3 nat  table detail "},
       {"show 7\n", "7 "},
       {"  show   007   \n", "7 "},
       {"show 65535 x\nignored", "65535 x"},
       {longest + "\n", longest.substr(5)},
       // A client that ends its line with CRLF: one "\r" goes with the "\n".
       {"show 9 crlf\r\n", "9 crlf"},
       {"show 9 crlf\r\r\n", "9 crlf\r"},
       {longest + "\r\n", longest.substr(5)},
   };
   for (const auto& [request, command] : cases) {
      SCOPED_TRACE(request.substr(0, 40));
      EXPECT_EQ(ask(request), "answer to " + command + "\n");
      EXPECT_EQ(server.connections(), 0u);
   }
   EXPECT_TRUE(show->lockHeld);
}

TEST_F(CommandServerTest, RefusesEveryBadOrFailedRequestWithOneLineAndGoesOn) {
   server.callbackIs(new FakeCallback("fail", "table 'nat' is busy"));
   for (const auto& [request, why] : badRequests()) {
      SCOPED_TRACE(request.substr(0, 40));
      EXPECT_EQ(ask(request), "error: " + why + "\n");
      EXPECT_EQ(server.connections(), 0u);
   }
   EXPECT_TRUE(show->writeEnds.empty());
   EXPECT_EQ(ask("show 1\n"), "answer to 1 \n");
}

// An agent that stopped left the requests it had queued holding their connections, and so
// their clients and the server's connection slots, for good.
TEST_F(CommandServerTest, RequestsQueuedWhenTheirCallbackOrTheServerGoesAreRefused) {
   server.callbackIs(new FakeCallback("clear"));
   Client shown(path, "show 1\n");
   Client cleared(path, "clear 2\n");
   // Reads the requests without running the framework's work, as when it is busy elsewhere.
   loop.context().poll();
   server.callbackDel("show");
   EXPECT_EQ(shown.answer(), "error: command type 'show' removed before the request ran\n");
   EXPECT_EQ(server.connections(), 1u);
   loop.doPoll();
   EXPECT_EQ(cleared.answer(), "answer to 2 \n");

   auto doomed = std::make_unique<Agent::CommandServer>(loop, otherPath);
   doomed->callbackIs(show);
   Client queued(otherPath, "show 7\n");
   Client unfinished(otherPath, "show 8");
   loop.context().poll();
   doomed = nullptr;
   loop.doPoll();
   EXPECT_EQ(queued.answer(), "error: command server stopped before the request ran\n");
   EXPECT_EQ(unfinished.answer(), "error: command server stopped before the request ran\n");
   EXPECT_TRUE(show->writeEnds.empty());
}

TEST_F(CommandServerTest, TheSocketFileIsPrivateReplacesALeftoverAndGoesWithTheServer) {
   struct stat file {};
   ASSERT_EQ(::stat(path.c_str(), &file), 0);
   EXPECT_EQ(file.st_mode & 0777, 0600u);

   const Kiv::String kept = otherPath + ".kept";
   {
      Agent::CommandServer crashed(loop, otherPath);
      ASSERT_EQ(::rename(otherPath.c_str(), kept.c_str()), 0);
   }
   ASSERT_EQ(::rename(kept.c_str(), otherPath.c_str()), 0);
   {
      Agent::CommandServer restarted(loop, otherPath);
      restarted.callbackIs(show);
      Client client(otherPath, "show 6\n");
      loop.doPoll();
      EXPECT_EQ(client.answer(), "answer to 6 \n");
   }
   EXPECT_NE(::access(otherPath.c_str(), F_OK), 0);
}

// A second agent once took over the socket of a live one, which stayed unreachable after the
// second one ended.
TEST_F(CommandServerTest, RefusesAPathWhereAServerAnswersOrThatIsNoSocket) {
   const Kiv::String directory = otherPath + ".d";
   const Kiv::String missing = directory + "/missing";
   ASSERT_EQ(::mkdir(directory.c_str(), 0700), 0);
   std::ofstream(otherPath) << "not a socket";
   const std::vector<std::pair<Kiv::String, Kiv::String>> cases = {
       {path, "a command server already answers at " + path},
       {otherPath, "command socket " + otherPath + ": the path is a file, not a socket"},
       {directory, "command socket " + directory + ": the path is a directory, not a socket"},
       {missing + "/nat.sock",
        "command socket " + missing + "/nat.sock: directory " + missing + " does not exist"},
   };
   for (const auto& [at, why] : cases) {
      EXPECT_THAT(([this, at = at] { Agent::CommandServer refused(loop, at); }),
                  ::testing::ThrowsMessage<std::runtime_error>(::testing::StrEq(why)));
   }
   EXPECT_EQ(ask("show 1\n"), "answer to 1 \n");
   EXPECT_EQ(::unlink(otherPath.c_str()), 0) << "the file stays";
   EXPECT_EQ(::rmdir(directory.c_str()), 0) << "the directory stays";
}

TEST_F(CommandServerTest, FortyClientsAtOnceEachGetTheirDueAndLeaveNothingBehind) {
   enum class Conduct { staysToTheEnd, leavesAfterSending, leavesAfterFirstPoll, leavesMidAnswer };
   struct Plan {
      Kiv::String request;
      Conduct conduct;
      Kiv::String answer;    // what a client that stays to the end receives
      bool reached = false;  // the callback is handed the request
   };
   const auto bad = badRequests();
   std::vector<Plan> plans;
   for (std::size_t round = 0; round < 5; ++round) {
      const auto n = [&](int kind) { return std::to_string(round * 8 + kind); };
      const auto& [junk, why] = bad[bad.size() - 5 + round];
      plans.push_back({"show " + n(0) + " ping\n", Conduct::staysToTheEnd,
                       "answer to " + n(0) + " ping\n", true});
      plans.push_back({"show " + n(1) + " ping\n" + Kiv::String(3000, '#'), Conduct::staysToTheEnd,
                       "answer to " + n(1) + " ping\n", true});
      plans.push_back({junk, Conduct::staysToTheEnd, "error: " + why + "\n"});
      plans.push_back({"show " + n(3) + " hal", Conduct::staysToTheEnd,
                       "error: no complete request within 200 ms\n"});
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
      std::thread bigReader([&] { clients.front()->answer(); });

      const auto allEnded = [&] {
         return std::all_of(clients.begin() + 1, clients.end(),
                            [](const auto& client) { return client->fd < 0 || client->ended; });
      };
      for (int round = 0; round < 200 && (server.connections() > 0 || !allEnded()); ++round) {
         loop.doRunFor(10ms);
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
         // Every answer is written whole, whether its client is still there or not: the
         // callback is handed the text after "show ".
         if (plan.reached) {
            writeEnds[plan.request.substr(5, plan.request.find('\n') - 5)].push_back(0);
         }
      }
      EXPECT_EQ(show->writeEnds, writeEnds);
   }
   EXPECT_EQ(openDescriptors(), descriptors);
   EXPECT_EQ(ask("show 99\n"), "answer to 99 \n");
}

TEST_F(CommandServerTest, IdleConnectionsBeyondTheLimitAreRefusedAndTheLimitClearsOnTimeout) {
   const std::size_t limit = Agent::CommandServer::maxConnections;
   const auto descriptors = openDescriptors();
   {
      std::vector<std::unique_ptr<Client>> idle;
      for (std::size_t i = 0; i < limit + 8; ++i)
         idle.push_back(std::make_unique<Client>(path, ""));
      loop.doPoll();
      EXPECT_EQ(server.connections(), limit);
      for (int round = 0; round < 100 && server.connections() > 0; ++round) loop.doRunFor(50ms);
      ASSERT_EQ(server.connections(), 0u);
      for (std::size_t i = 0; i < idle.size(); ++i) {
         EXPECT_EQ(idle[i]->answer(), i < limit ? "error: no complete request within 200 ms\n"
                                                : "error: too many connections (64)\n")
             << i;
      }
   }
   EXPECT_EQ(openDescriptors(), descriptors);
   EXPECT_EQ(ask("show 1\n"), "answer to 1 \n");
}

// A client that sent its request and never read froze the agent: each blocked write of its
// answer waited out a send timeout on the agent's thread, and the next client got nothing.
TEST_F(CommandServerTest, AClientThatDoesNotReadHoldsUpNobodyAndGetsItsAnswerWholeLater) {
   Client silent(path, "show 1 big\n");
   loop.doPoll();
   EXPECT_EQ(show->writeEnds["1 big"], std::vector<int>{0}) << "written at once, in full";
   EXPECT_EQ(ask("show 2\n"), "answer to 2 \n");
   EXPECT_EQ(server.connections(), 1u);

   for (int round = 0; round < 500 && !silent.ended; ++round) {
      loop.doRunFor(10ms);
      silent.doRead();
   }
   EXPECT_EQ(silent.received.size(), bigAnswerBytes);
   EXPECT_TRUE(silent.received == bigAnswer("1 big"));
   EXPECT_EQ(server.connections(), 0u);
}

// A client that read a little of its answer every while held its connection for as long as it
// kept reading: the send timeout started again with each read.
TEST_F(CommandServerTest, AClientThatReadsSlowlyIsCutOffAtTheAnswerDeadline) {
   Agent::CommandServer impatient(loop, otherPath, 200ms, 300ms);
   impatient.callbackIs(show);
   Client slow(otherPath, "show 1 big\n");
   // Takes what has arrived after every other 50 ms of the loop: the answer keeps moving, a socket
   // buffer at a time, but needs many times the deadline at this pace.
   for (int round = 0; round < 200 && !slow.ended; ++round) {
      loop.doRunFor(50ms);
      if (round % 2 == 1) slow.doRead();
   }
   EXPECT_TRUE(slow.ended);
   EXPECT_GT(slow.received.size(), 0u);
   EXPECT_LT(slow.received.size(), bigAnswerBytes);
   EXPECT_TRUE(bigAnswer("1 big").starts_with(slow.received));
   EXPECT_EQ(impatient.connections(), 0u);
}

}  // namespace

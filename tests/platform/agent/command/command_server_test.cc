#include "platform/agent/command/command_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "platform/framework/kiv/activity_lock.h"

namespace {

using namespace std::chrono_literals;

// Records what it is handed and how, and answers as real callbacks do, with plain dprintf().
class FakeCallback : public Agent::AgentCommandCallback {
public:
   FakeCallback(Kiv::String type, Kiv::String failure = "")
       : Agent::AgentCommandCallback(type, type), failure_(std::move(failure)) {}

   void handleCommand(U32 socket, Kiv::String command) override {
      lockHeld = Kiv::activityLock().isHeldByThisThread();
      commands.push_back(command);
      if (!failure_.empty()) throw std::runtime_error(failure_);
      ::dprintf(static_cast<int>(socket), "answer to %s\n", command.c_str());
   }

   std::vector<Kiv::String> commands;
   // On the last call.
   bool lockHeld = false;

private:
   Kiv::String failure_;
};

// Connects and sends `request`. Its reads are bounded, so that a server that never answers
// fails the test instead of hanging it.
struct Client {
   Client(const Kiv::String& path, const Kiv::String& request) {
      const timeval wait{5, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
      sockaddr_un address{AF_UNIX, {}};
      std::strcpy(address.sun_path, path.c_str());
      EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
      EXPECT_EQ(::send(fd, request.data(), request.size(), 0), ssize_t(request.size()));
   }
   ~Client() { ::close(fd); }
   Client(const Client&) = delete;

   // Everything written until the server closed the connection.
   Kiv::String answer() {
      Kiv::String received;
      char chunk[1024];
      ssize_t n;
      while ((n = ::recv(fd, chunk, sizeof(chunk), 0)) > 0) received.append(chunk, std::size_t(n));
      // A server that closes with part of the request unread resets the connection instead.
      EXPECT_TRUE(n == 0 || errno == ECONNRESET) << "the server did not close the connection";
      return received;
   }

   const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
};

// A real socket served the way the agent does it: doPoll(), then the loop with the activity
// lock held.
class CommandServerTest : public ::testing::Test {
protected:
   CommandServerTest() { server.callbackIs(show); }
   ~CommandServerTest() override { Kiv::eventLoop().workDelAll(); }

   static void doServe(Agent::CommandServer& at, std::chrono::milliseconds wait = 0ms) {
      at.doPoll(wait);
      Kiv::ActivityGuard guard(Kiv::activityLock());
      Kiv::eventLoop().doRunUntilIdle();
   }
   Kiv::String ask(const Kiv::String& request) {
      Client client(path, request);
      doServe(server);
      return client.answer();
   }

   const Kiv::String path =
       ::testing::TempDir() + "command_server_test." + std::to_string(::getpid());
   const Kiv::String otherPath = path + ".other";
   Agent::CommandServer server{path, 300ms};
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
      EXPECT_EQ(show->commands.back(), command);
      EXPECT_EQ(server.connections(), 0u);
   }
   EXPECT_TRUE(show->lockHeld);
}

TEST_F(CommandServerTest, RefusesEveryBadRequestWithOneLineAndGoesOn) {
   const std::vector<std::pair<Kiv::String, Kiv::String>> cases = {
       {"\n", "empty request"},
       {"   \n", "empty request"},
       {"show\n", "no module after command type 'show'"},
       {"show x1 a\n", "module 'x1' is not a number"},
       {"show -1 a\n", "module '-1' is not a number"},
       {"show 65536 a\n", "module 65536 out of range (0..65535)"},
       {"show 18446744073709551621\n", "module 18446744073709551621 out of range (0..65535)"},
       {"show 1 " + Kiv::String(Agent::maxRequestBytes - 6, 'x') + "\n",
        "request longer than 4096 bytes"},
   };
   for (const auto& [request, why] : cases) {
      SCOPED_TRACE(request.substr(0, 40));
      EXPECT_EQ(ask(request), "error: " + why + "\n");
      EXPECT_EQ(server.connections(), 0u);
   }
   EXPECT_TRUE(show->commands.empty());
   EXPECT_EQ(ask("show 1\n"), "answer to 1 \n");
}

TEST_F(CommandServerTest, ACallbackThatThrowsAnswersItsErrorAndOthersAreStillServed) {
   server.callbackIs(new FakeCallback("fail", "table 'nat' is busy"));
   EXPECT_EQ(ask("fail 2 clear\n"), "error: table 'nat' is busy\n");
   EXPECT_EQ(server.connections(), 0u);
   EXPECT_EQ(ask("show 2\n"), "answer to 2 \n");
}

// An agent that stopped left the requests it had queued holding their connections, and so
// their clients and the server's connection slots, for good.
TEST_F(CommandServerTest, RequestsQueuedWhenTheirCallbackOrTheServerGoesAreRefused) {
   server.callbackIs(new FakeCallback("clear"));
   Client shown(path, "show 1\n");
   Client cleared(path, "clear 2\n");
   server.doPoll(0ms);
   server.callbackDel("show");
   EXPECT_EQ(shown.answer(), "error: command type 'show' removed before the request ran\n");
   EXPECT_EQ(server.connections(), 1u);
   doServe(server);
   EXPECT_EQ(cleared.answer(), "answer to 2 \n");

   auto doomed = std::make_unique<Agent::CommandServer>(otherPath);
   doomed->callbackIs(show);
   Client queued(otherPath, "show 7\n");
   Client unfinished(otherPath, "show 8");
   doomed->doPoll(0ms);
   doomed = nullptr;
   doServe(server);
   EXPECT_EQ(queued.answer(), "error: command server stopped before the request ran\n");
   EXPECT_EQ(unfinished.answer(), "error: command server stopped before the request ran\n");
   EXPECT_TRUE(show->commands.empty());
}

TEST_F(CommandServerTest, TheSocketFileIsPrivateReplacesALeftoverAndGoesWithTheServer) {
   struct stat file {};
   ASSERT_EQ(::stat(path.c_str(), &file), 0);
   EXPECT_EQ(file.st_mode & 0777, 0600u);

   const Kiv::String kept = otherPath + ".kept";
   {
      Agent::CommandServer crashed(otherPath);
      ASSERT_EQ(::rename(otherPath.c_str(), kept.c_str()), 0);
   }
   ASSERT_EQ(::rename(kept.c_str(), otherPath.c_str()), 0);
   {
      Agent::CommandServer restarted(otherPath);
      restarted.callbackIs(show);
      Client client(otherPath, "show 6\n");
      doServe(restarted);
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
      EXPECT_THAT([at = at] { Agent::CommandServer refused(at); },
                  ::testing::ThrowsMessage<std::runtime_error>(::testing::StrEq(why)));
   }
   EXPECT_EQ(ask("show 1\n"), "answer to 1 \n");
   EXPECT_EQ(::unlink(otherPath.c_str()), 0) << "the file stays";
   EXPECT_EQ(::rmdir(directory.c_str()), 0) << "the directory stays";
}

}  // namespace

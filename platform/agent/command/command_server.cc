#include "platform/agent/command/command_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>

#include "platform/agent/command/answer_buffer.h"
#include "platform/agent/command/listener.h"
#include "platform/framework/kiv/assert.h"

namespace Agent {
namespace {

using Clock = std::chrono::steady_clock;

// Best effort, and never waits: a refusal is one short line to a client that has been sent
// nothing before, so it fits the socket unless the client has gone.
void sendError(int fd, const Kiv::String& why) {
   const Kiv::String line = "error: " + why + "\n";
   std::size_t sent = 0;
   while (sent < line.size()) {
      const ssize_t n =
          ::send(fd, line.data() + sent, line.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
   }
}

}  // namespace

enum class CommandServer::Stage {
   reading,    // until its request line is complete
   queued,     // its request waits on the loop; nothing more is read
   answering,  // its callback has run or runs; the answer goes out as the client takes it
};

struct CommandServer::Connection {
   Connection(int fd, Clock::time_point deadline) : socket(fd), deadline(deadline) {}

   Descriptor socket;
   Stage stage = Stage::reading;
   // While reading, for the whole request; while answering, for the whole answer.
   Clock::time_point deadline;
   Kiv::String received;
   CommandRequest request;
   std::optional<AnswerBuffer> answer;
};

CommandServer::CommandServer(Kiv::String path, std::chrono::milliseconds requestTimeout,
                             std::chrono::milliseconds answerTimeout, Kiv::EventLoop& loop)
    : path_(std::move(path)),
      requestTimeout_(requestTimeout),
      answerTimeout_(answerTimeout),
      loop_(loop),
      listener_(listenerAt(path_)) {}

CommandServer::~CommandServer() {
   for (const auto& connection : connections_) {
      if (connection->stage != Stage::answering) {
         sendError(connection->socket.fd(), "command server stopped before the request ran");
      }
   }
   ::unlink(path_.c_str());
}

void CommandServer::callbackIs(const Kiv::Ptr<AgentCommandCallbackBase>& callback) {
   KIV_ASSERT( callback );
   callbacks_[callback->commandType()] = callback;
}

void CommandServer::callbackDel(const Kiv::String& commandType) {
   callbacks_.erase(commandType);
   // Refused now rather than when their loop items run, which may be never.
   const std::vector<std::shared_ptr<Connection>> open = connections_;
   for (const auto& connection : open) {
      if (connection->stage == Stage::queued && connection->request.commandType == commandType) {
         doRefuse(connection, "command type '" + commandType + "' removed before the request ran");
      }
   }
}

Kiv::Ptr<AgentCommandCallbackBase> CommandServer::callback(const Kiv::String& commandType) const {
   const auto found = callbacks_.find(commandType);
   return found == callbacks_.end() ? nullptr : found->second;
}

void CommandServer::doPoll(std::chrono::milliseconds timeout) {
   std::vector<pollfd> polled{{listener_.fd(), POLLIN, 0}};
   std::vector<std::shared_ptr<Connection>> waiting;
   auto wait = timeout;
   const auto now = Clock::now();
   for (const auto& connection : connections_) {
      if (connection->stage == Stage::queued) continue;
      const short events = connection->stage == Stage::reading ? POLLIN : POLLOUT;
      polled.push_back({connection->socket.fd(), events, 0});
      waiting.push_back(connection);
      // Wakes for the earliest deadline, so a timed-out client hears of it on time.
      wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(
                                std::max(connection->deadline - now, Clock::duration::zero())));
   }
   if (::poll(polled.data(), polled.size(), static_cast<int>(wait.count())) < 0) {
      if (errno == EINTR) return;
      throw std::system_error(errno, std::generic_category(), "command socket " + path_ + ": poll");
   }
   for (std::size_t i = 0; i < waiting.size(); ++i) {
      if (polled[i + 1].revents == 0) continue;
      if (waiting[i]->stage == Stage::reading) {
         doRead(waiting[i]);
      } else {
         doSend(waiting[i]);
      }
   }
   if (polled[0].revents != 0) doAccept();
   doExpire();
}

void CommandServer::doAccept() {
   for (;;) {
      const int fd = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
         if (errno == EINTR || errno == ECONNABORTED) continue;
         return;
      }
      if (connections_.size() >= maxConnections) {
         const Descriptor refused(fd);
         sendError(fd, "too many connections (" + std::to_string(maxConnections) + ")");
         continue;
      }
      const auto connection = std::make_shared<Connection>(fd, Clock::now() + requestTimeout_);
      connections_.push_back(connection);
      // A client usually sends its request along with connecting.
      doRead(connection);
   }
}

void CommandServer::doRead(const std::shared_ptr<Connection>& connection) {
   // Never more than the longest line and its "\r\n": what follows a request is ignored, and a
   // full buffer without "\n" is a line the parser refuses as too long.
   char chunk[maxRequestBytes + 2];
   Kiv::String& received = connection->received;
   std::size_t newline;
   while ((newline = received.find('\n')) == Kiv::String::npos && received.size() < sizeof(chunk)) {
      const ssize_t n = ::recv(connection->socket.fd(), chunk, sizeof(chunk) - received.size(), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (n <= 0) {  // the client left before finishing its request
         doClose(connection);
         return;
      }
      received.append(chunk, static_cast<std::size_t>(n));
   }
   std::string_view line = std::string_view(received).substr(0, newline);
   // A client that ends its line with CRLF means the same request.
   if (newline != Kiv::String::npos && line.ends_with('\r')) line.remove_suffix(1);
   doQueue(connection, line);
}

void CommandServer::doQueue(const std::shared_ptr<Connection>& connection, std::string_view line) {
   try {
      connection->request = commandRequestOf(line);
   } catch (const CommandRequestError& error) {
      doRefuse(connection, error.what());
      return;
   }
   connection->stage = Stage::queued;
   loop_.workIs([this, weak = std::weak_ptr<Connection>(connection)] {
      if (const auto connection = weak.lock()) doServe(connection);
   });
}

void CommandServer::doExpire() {
   const auto now = Clock::now();
   const std::vector<std::shared_ptr<Connection>> open = connections_;
   for (const auto& connection : open) {
      if (connection->stage == Stage::queued || connection->deadline > now) continue;
      if (connection->stage == Stage::reading) {
         doRefuse(connection,
                  "no complete request within " + std::to_string(requestTimeout_.count()) + " ms");
      } else {  // a client that takes its answer this slowly is stuck or has gone
         doClose(connection);
      }
   }
}

void CommandServer::doServe(const std::shared_ptr<Connection>& connection) {
   const CommandRequest& request = connection->request;
   // Held for the call, so that a callback that deregisters itself finishes its answer.
   const Kiv::Ptr<AgentCommandCallbackBase> handler = callback(request.commandType);
   if (!handler) {
      doRefuse(connection, "unknown command type '" + request.commandType + "'");
      return;
   }
   try {
      connection->answer.emplace();
   } catch (const std::system_error& error) {
      doRefuse(connection, error.what());
      return;
   }
   AnswerBuffer& answer = *connection->answer;
   connection->stage = Stage::answering;
   try {
      handler->handleCommand(static_cast<U32>(answer.fd()), request.command());
   } catch (const std::exception& error) {
      answer.textAppend("error: " + Kiv::String(error.what()) + "\n");
   }
   connection->deadline = Clock::now() + answerTimeout_;
   // Most answers fit the socket at once and end the connection here.
   doSend(connection);
}

void CommandServer::doSend(const std::shared_ptr<Connection>& connection) {
   if (connection->answer->doSendTo(connection->socket.fd()) != AnswerBuffer::Progress::pending) {
      doClose(connection);
   }
}

void CommandServer::doRefuse(const std::shared_ptr<Connection>& connection,
                             const Kiv::String& why) {
   sendError(connection->socket.fd(), why);
   doClose(connection);
}

void CommandServer::doClose(const std::shared_ptr<Connection>& connection) {
   std::erase(connections_, connection);
}

}  // namespace Agent

#include "platform/agent/command/command_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "platform/agent/command/listener.h"
#include "platform/framework/kiv/assert.h"

namespace Agent {
namespace {

using Clock = std::chrono::steady_clock;

// MSG_NOSIGNAL covers the server's own sends only. Callbacks answer with plain write() and
// dprintf(), which raise SIGPIPE when the client has gone, and its default action would end
// the agent for one impatient client. A handler the program installed itself stays.
void ignoreSigpipe() {
   struct sigaction current {};
   if (::sigaction(SIGPIPE, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
   struct sigaction ignore {};
   ignore.sa_handler = SIG_IGN;
   ::sigaction(SIGPIPE, &ignore, nullptr);
}

// Best effort: a client that stopped reading or left loses the rest of its answer.
void sendLine(int fd, const Kiv::String& line) {
   std::size_t sent = 0;
   while (sent < line.size()) {
      const ssize_t n = ::send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
   }
}

void sendError(int fd, const Kiv::String& why) { sendLine(fd, "error: " + why + "\n"); }

}  // namespace

struct CommandServer::Connection {
   Connection(int fd, Clock::time_point deadline) : socket(fd), deadline(deadline) {}

   Descriptor socket;
   Clock::time_point deadline;
   Kiv::String received;
   // The request is complete and waits on the loop; nothing more is read.
   bool queued = false;
};

CommandServer::CommandServer(Kiv::String path, std::chrono::milliseconds requestTimeout,
                             Kiv::EventLoop& loop)
    : path_(std::move(path)),
      requestTimeout_(requestTimeout),
      loop_(loop),
      listener_(listenerAt(path_)) {
   ignoreSigpipe();
}

CommandServer::~CommandServer() { ::unlink(path_.c_str()); }

void CommandServer::callbackIs(const Kiv::Ptr<AgentCommandCallbackBase>& callback) {
   KIV_ASSERT( callback );
   callbacks_[callback->commandType()] = callback;
}

void CommandServer::callbackDel(const Kiv::String& commandType) { callbacks_.erase(commandType); }

Kiv::Ptr<AgentCommandCallbackBase> CommandServer::callback(const Kiv::String& commandType) const {
   const auto found = callbacks_.find(commandType);
   return found == callbacks_.end() ? nullptr : found->second;
}

void CommandServer::doPoll(std::chrono::milliseconds timeout) {
   std::vector<pollfd> polled{{listener_.fd(), POLLIN, 0}};
   std::vector<std::shared_ptr<Connection>> reading;
   auto wait = timeout;
   const auto now = Clock::now();
   for (const auto& connection : connections_) {
      if (connection->queued) continue;
      polled.push_back({connection->socket.fd(), POLLIN, 0});
      reading.push_back(connection);
      // Wakes for the earliest deadline, so a timed-out client hears of it on time.
      wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(
                                std::max(connection->deadline - now, Clock::duration::zero())));
   }
   if (::poll(polled.data(), polled.size(), static_cast<int>(wait.count())) < 0) {
      if (errno == EINTR) return;
      throw std::system_error(errno, std::generic_category(), "command socket " + path_ + ": poll");
   }
   for (std::size_t i = 0; i < reading.size(); ++i) {
      if (polled[i + 1].revents != 0) doRead(reading[i]);
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
   CommandRequest request;
   try {
      request = commandRequestOf(line);
   } catch (const CommandRequestError& error) {
      doRefuse(connection, error.what());
      return;
   }
   connection->queued = true;
   loop_.workIs([this, weak = std::weak_ptr<Connection>(connection), request] {
      if (const auto connection = weak.lock()) doServe(connection, request);
   });
}

void CommandServer::doExpire() {
   const auto now = Clock::now();
   const std::vector<std::shared_ptr<Connection>> open = connections_;
   for (const auto& connection : open) {
      if (connection->queued || connection->deadline > now) continue;
      doRefuse(connection,
               "no complete request within " + std::to_string(requestTimeout_.count()) + " ms");
   }
}

void CommandServer::doServe(const std::shared_ptr<Connection>& connection,
                            const CommandRequest& request) {
   const int fd = connection->socket.fd();
   // Held for the call, so that a callback that deregisters itself finishes its answer.
   const Kiv::Ptr<AgentCommandCallbackBase> handler = callback(request.commandType);
   if (!handler) {
      doRefuse(connection, "unknown command type '" + request.commandType + "'");
      return;
   }

   // Callbacks write with plain blocking calls; the send timeout bounds how long a client that
   // stops reading can hold the agent.
   const auto seconds = std::chrono::floor<std::chrono::seconds>(answerTimeout);
   timeval sendTimeout{};
   sendTimeout.tv_sec = static_cast<time_t>(seconds.count());
   sendTimeout.tv_usec = static_cast<suseconds_t>(
       std::chrono::duration_cast<std::chrono::microseconds>(answerTimeout - seconds).count());
   ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
   ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof(sendTimeout));
   try {
      handler->handleCommand(static_cast<U32>(fd), request.command());
   } catch (const std::exception& error) {
      sendError(fd, error.what());
   }
   doClose(connection);
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

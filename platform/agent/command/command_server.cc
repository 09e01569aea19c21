#include "platform/agent/command/command_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <boost/asio/steady_timer.hpp>
#include <cerrno>
#include <optional>
#include <system_error>

#include "platform/agent/command/answer_buffer.h"
#include "platform/agent/command/listener.h"
#include "platform/framework/kiv/assert.h"

namespace Agent {
namespace {

using Socket = boost::asio::local::stream_protocol::socket;
using Acceptor = boost::asio::local::stream_protocol::acceptor;
using ErrorCode = boost::system::error_code;

std::shared_ptr<Acceptor> listenerOn(boost::asio::io_context& context, const Kiv::String& path) {
   Descriptor socket = listenerAt(path);
   auto listener = std::make_shared<Acceptor>(context);
   listener->assign(boost::asio::local::stream_protocol(), socket.fd());
   socket.release();
   return listener;
}

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
   explicit Connection(Socket socket)
       : socket(std::move(socket)), deadline(this->socket.get_executor()) {}

   // Never more than the longest line and its "\r\n": what follows a request is ignored, and
   // a full buffer without "\n" is a line the parser refuses as too long. Declared before the
   // socket, so that the socket, which cancels its read, goes first.
   std::array<char, maxRequestBytes + 2> received{};
   std::size_t receivedBytes = 0;
   Socket socket;
   Stage stage = Stage::reading;
   // While reading, for the whole request; while answering, for the whole answer.
   boost::asio::steady_timer deadline;
   CommandRequest request;
   std::optional<AnswerBuffer> answer;
};

CommandServer::CommandServer(AgentLoop& loop, Kiv::String path,
                             std::chrono::milliseconds requestTimeout,
                             std::chrono::milliseconds answerTimeout)
    : loop_(loop),
      path_(std::move(path)),
      requestTimeout_(requestTimeout),
      answerTimeout_(answerTimeout),
      listener_(listenerOn(loop.context(), path_)) {
   doAccept();
}

CommandServer::~CommandServer() {
   for (const auto& connection : connections_) {
      if (connection->stage != Stage::answering) {
         sendError(connection->socket.native_handle(),
                   "command server stopped before the request ran");
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

void CommandServer::doAccept() {
   listener_->async_accept([this, listener = std::weak_ptr<Acceptor>(listener_)](
                               const ErrorCode& error, Socket socket) {
      if (listener.expired()) return;
      // A failed accept (a client that left, no descriptors to spare) costs that client
      // only.
      if (!error) handleAccepted(std::move(socket));
      doAccept();
   });
}

void CommandServer::handleAccepted(Socket socket) {
   if (connections_.size() >= maxConnections) {
      sendError(socket.native_handle(),
                "too many connections (" + std::to_string(maxConnections) + ")");
      return;
   }
   const auto connection = std::make_shared<Connection>(std::move(socket));
   connections_.push_back(connection);
   doExpireAfter(connection, requestTimeout_);
   doRead(connection);
}

void CommandServer::doRead(const std::shared_ptr<Connection>& connection) {
   Connection& reading = *connection;
   reading.socket.async_read_some(
       boost::asio::buffer(reading.received.data() + reading.receivedBytes,
                           reading.received.size() - reading.receivedBytes),
       [this, weak = std::weak_ptr<Connection>(connection)](const ErrorCode& error,
                                                            std::size_t bytes) {
          const auto connection = weak.lock();
          if (!connection) return;
          if (error) {  // the client left before finishing its request
             doClose(connection);
             return;
          }
          handleReceived(connection, bytes);
       });
}

void CommandServer::handleReceived(const std::shared_ptr<Connection>& connection,
                                   std::size_t bytes) {
   connection->receivedBytes += bytes;
   const std::string_view received(connection->received.data(), connection->receivedBytes);
   const std::size_t newline = received.find('\n');
   if (newline == std::string_view::npos && received.size() < connection->received.size()) {
      doRead(connection);
      return;
   }
   std::string_view line = received.substr(0, newline);
   // A client that ends its line with CRLF means the same request.
   if (newline != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
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
   connection->deadline.cancel();
   loop_.work().workIs([this, weak = std::weak_ptr<Connection>(connection)] {
      if (const auto connection = weak.lock()) doServe(connection);
   });
}

void CommandServer::doExpireAfter(const std::shared_ptr<Connection>& connection,
                                  std::chrono::milliseconds timeout) {
   connection->deadline.expires_after(timeout);
   connection->deadline.async_wait(
       [this, weak = std::weak_ptr<Connection>(connection)](const ErrorCode& error) {
          const auto connection = weak.lock();
          if (connection && !error) handleExpired(connection);
       });
}

void CommandServer::handleExpired(const std::shared_ptr<Connection>& connection) {
   // A wait that ended just before its deadline was cancelled or moved is out of date.
   if (connection->stage == Stage::queued ||
       connection->deadline.expiry() > boost::asio::steady_timer::clock_type::now()) {
      return;
   }
   if (connection->stage == Stage::reading) {
      doRefuse(connection,
               "no complete request within " + std::to_string(requestTimeout_.count()) + " ms");
   } else {  // a client that takes its answer this slowly is stuck or has gone
      doClose(connection);
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
   doExpireAfter(connection, answerTimeout_);
   // Most answers fit the socket at once and end the connection here.
   doSend(connection);
}

void CommandServer::doSend(const std::shared_ptr<Connection>& connection) {
   const AnswerBuffer::Progress progress =
       connection->answer->doSendTo(connection->socket.native_handle());
   if (progress != AnswerBuffer::Progress::pending) {
      doClose(connection);
      return;
   }
   connection->socket.async_wait(
       Socket::wait_write,
       [this, weak = std::weak_ptr<Connection>(connection)](const ErrorCode& error) {
          const auto connection = weak.lock();
          if (!connection) return;
          if (error) {
             doClose(connection);
             return;
          }
          doSend(connection);
       });
}

void CommandServer::doRefuse(const std::shared_ptr<Connection>& connection,
                             const Kiv::String& why) {
   sendError(connection->socket.native_handle(), why);
   doClose(connection);
}

void CommandServer::doClose(const std::shared_ptr<Connection>& connection) {
   std::erase(connections_, connection);
}

}  // namespace Agent

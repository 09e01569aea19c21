#pragma once

#include <boost/asio/local/stream_protocol.hpp>
#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/agent/command/agent_command_callback.h"
#include "platform/agent/command/command_request.h"
#include "platform/agent/loop/agent_loop.h"
#include "platform/framework/kiv/ptr.h"
#include "platform/framework/kiv/string.h"

namespace Agent {

// The agent's command socket: a Unix-domain stream socket on which each connection carries
// one request line, "<command type> <module> [<command text>]\n", and gets one answer, after
// which the server closes it. The server's listener, connections and their timers live on
// `loop`; running the loop accepts connections, reads requests, and sends answers on as their
// clients take them. A well-formed request runs as one item of the loop's framework work,
// where the callback registered for its command type writes the answer into the connection's
// AnswerBuffer. Every refusal is one line, "error: <why>\n". Single-threaded, on the loop's
// thread: no client, however slow or gone, blocks the loop.
class CommandServer {
public:
   // How long a client has, from when it connects, to send its whole request line; then it
   // is refused ("error: no complete request within <ms> ms").
   static constexpr std::chrono::milliseconds defaultRequestTimeout{5000};
   // How long a client has, from when its answer is written, to take the whole of it; then
   // the connection is dropped.
   static constexpr std::chrono::milliseconds defaultAnswerTimeout{10000};
   // Connections open at once, waiting for their request or for their answer; a client
   // beyond them is refused.
   static constexpr std::size_t maxConnections = 64;

   // Listens on `path`, reachable by this user only, as listenerAt() sets it up: a socket file
   // nobody listens on is replaced. Throws std::runtime_error with a one-line message naming
   // the path (std::system_error when a system call fails) when a server already answers
   // there ("a command server already answers at <path>"), when the path is not a socket or
   // its directory does not exist, or when the socket cannot be set up. The server holds a
   // reference to `loop`, which outlives it.
   CommandServer(AgentLoop& loop, Kiv::String path,
                 std::chrono::milliseconds requestTimeout = defaultRequestTimeout,
                 std::chrono::milliseconds answerTimeout = defaultAnswerTimeout);
   // Refuses every request not yet run, queued or still arriving ("error: command server
   // stopped before the request ran"; their loop items then do nothing), drops answers still
   // being sent, and removes the socket file.
   ~CommandServer();
   CommandServer(const CommandServer&) = delete;
   CommandServer& operator=(const CommandServer&) = delete;

   AgentLoop& loop() const { return loop_; }
   const Kiv::String& path() const { return path_; }
   std::chrono::milliseconds requestTimeout() const { return requestTimeout_; }
   std::chrono::milliseconds answerTimeout() const { return answerTimeout_; }
   std::size_t connections() const { return connections_.size(); }

   // Registers `callback` (not null) under its commandType(), replacing any other. The
   // server holds a reference until callbackDel() or its own end.
   void callbackIs(const Kiv::Ptr<AgentCommandCallbackBase>& callback);
   // Refuses the requests of `commandType` queued and not yet run ("error: command type
   // '<type>' removed before the request ran"): an agent that stops drops its loop items.
   void callbackDel(const Kiv::String& commandType);
   // Null when no callback is registered for `commandType`.
   Kiv::Ptr<AgentCommandCallbackBase> callback(const Kiv::String& commandType) const;

private:
   enum class Stage;
   struct Connection;

   void doAccept();
   void handleAccepted(boost::asio::local::stream_protocol::socket socket);
   void doRead(const std::shared_ptr<Connection>& connection);
   void handleReceived(const std::shared_ptr<Connection>& connection, std::size_t bytes);
   void doQueue(const std::shared_ptr<Connection>& connection, std::string_view line);
   void doExpireAfter(const std::shared_ptr<Connection>& connection,
                      std::chrono::milliseconds timeout);
   void handleExpired(const std::shared_ptr<Connection>& connection);
   void doServe(const std::shared_ptr<Connection>& connection);
   void doSend(const std::shared_ptr<Connection>& connection);
   void doRefuse(const std::shared_ptr<Connection>& connection, const Kiv::String& why);
   void doClose(const std::shared_ptr<Connection>& connection);

   AgentLoop& loop_;
   Kiv::String path_;
   std::chrono::milliseconds requestTimeout_;
   std::chrono::milliseconds answerTimeout_;
   // The server is its only owner, so a handler that finds it gone knows the server is gone.
   std::shared_ptr<boost::asio::local::stream_protocol::acceptor> listener_;
   std::map<Kiv::String, Kiv::Ptr<AgentCommandCallbackBase>> callbacks_;
   // The server is their only owner, so a handler or framework work item that finds its
   // connection gone knows the server may be gone too.
   std::vector<std::shared_ptr<Connection>> connections_;
};

}  // namespace Agent

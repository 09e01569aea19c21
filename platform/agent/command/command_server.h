#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/agent/command/agent_command_callback.h"
#include "platform/agent/command/command_request.h"
#include "platform/agent/command/descriptor.h"
#include "platform/framework/kiv/event_loop.h"
#include "platform/framework/kiv/ptr.h"
#include "platform/framework/kiv/string.h"

namespace Agent {

// The agent's command socket: a Unix-domain stream socket on which each connection carries
// one request line, "<command type> <module> [<command text>]\n", and gets one answer, after
// which the server closes it. A well-formed request runs as one item of `loop`, where the
// callback registered for its command type writes the answer into the connection's
// AnswerBuffer; doPoll() sends it on as the client takes it. Every refusal is one line,
// "error: <why>\n". Single-threaded: the agent alternates doPoll() with running the loop, and
// no client, however slow or gone, blocks either.
class CommandServer {
public:
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
   // its directory does not exist, or when the socket cannot be set up.
   explicit CommandServer(Kiv::String path,
                          std::chrono::milliseconds requestTimeout = defaultRequestTimeout,
                          std::chrono::milliseconds answerTimeout = defaultAnswerTimeout,
                          Kiv::EventLoop& loop = Kiv::eventLoop());
   // Refuses every request not yet run, queued or still arriving ("error: command server
   // stopped before the request ran"; their loop items then do nothing), drops answers still
   // being sent, and removes the socket file.
   ~CommandServer();
   CommandServer(const CommandServer&) = delete;
   CommandServer& operator=(const CommandServer&) = delete;

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

   // Waits at most `timeout` for clients, then accepts new connections, reads what they
   // sent, queues one loop item per complete request, sends answers on as far as their
   // clients take them, refuses malformed requests and those not complete within the request
   // timeout, and drops answers not taken within the answer timeout. Returns early when
   // interrupted by a signal; throws std::system_error if poll() itself fails.
   void doPoll(std::chrono::milliseconds timeout);

private:
   enum class Stage;
   struct Connection;

   void doAccept();
   void doRead(const std::shared_ptr<Connection>& connection);
   void doQueue(const std::shared_ptr<Connection>& connection, std::string_view line);
   void doExpire();
   void doServe(const std::shared_ptr<Connection>& connection);
   void doSend(const std::shared_ptr<Connection>& connection);
   void doRefuse(const std::shared_ptr<Connection>& connection, const Kiv::String& why);
   void doClose(const std::shared_ptr<Connection>& connection);

   Kiv::String path_;
   std::chrono::milliseconds requestTimeout_;
   std::chrono::milliseconds answerTimeout_;
   Kiv::EventLoop& loop_;
   Descriptor listener_;
   std::map<Kiv::String, Kiv::Ptr<AgentCommandCallbackBase>> callbacks_;
   // The server is their only owner, so a loop item that finds its connection gone knows the
   // server may be gone too.
   std::vector<std::shared_ptr<Connection>> connections_;
};

}  // namespace Agent

#pragma once

#include <sys/types.h>

#include <string_view>

#include "platform/agent/command/descriptor.h"

namespace Agent {

// One connection's answer on its way to the client. The callback writes the answer to fd(), a
// file in memory that takes any amount at once and never fails for want of a reader, so that
// writing an answer never waits on the client; doSendTo() then passes it on as the client's
// socket takes it.
class AnswerBuffer {
public:
   // Throws std::system_error when the memory file cannot be created.
   AnswerBuffer();
   AnswerBuffer(const AnswerBuffer&) = delete;
   AnswerBuffer& operator=(const AnswerBuffer&) = delete;

   // Where the answer is written, with plain write() or dprintf(); owned by the buffer.
   int fd() const { return file_.fd(); }
   // Adds `text` after what was written so far.
   void textAppend(std::string_view text);

   enum class Progress { done, pending, failed };
   // Sends the rest of the answer, as much as `socket` takes without blocking: `done` once the
   // whole answer is out, `pending` while the socket is full, `failed` when it cannot go on
   // (the client has gone).
   Progress doSendTo(int socket);

private:
   Descriptor file_;
   off_t sent_ = 0;
};

}  // namespace Agent

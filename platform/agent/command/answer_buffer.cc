#include "platform/agent/command/answer_buffer.h"

#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace Agent {

AnswerBuffer::AnswerBuffer() : file_(::memfd_create("command answer", MFD_CLOEXEC)) {
   if (file_.fd() < 0) {
      throw std::system_error(errno, std::generic_category(), "command answer: memfd_create");
   }
}

void AnswerBuffer::textAppend(std::string_view text) {
   // A memory file refuses a write only when memory runs out, and then the text is lost with
   // whatever else the callback could not write.
   while (!text.empty()) {
      const ssize_t n = ::write(file_.fd(), text.data(), text.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      text.remove_prefix(static_cast<std::size_t>(n));
   }
}

AnswerBuffer::Progress AnswerBuffer::doSendTo(int socket) {
   char chunk[64 * 1024];
   for (;;) {
      const ssize_t read = ::pread(file_.fd(), chunk, sizeof(chunk), sent_);
      if (read < 0 && errno == EINTR) continue;
      if (read < 0) return Progress::failed;
      if (read == 0) return Progress::done;
      // A piece the socket does not take now is read again next time.
      const ssize_t n =
          ::send(socket, chunk, static_cast<std::size_t>(read), MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0)
         return errno == EAGAIN || errno == EWOULDBLOCK ? Progress::pending : Progress::failed;
      sent_ += n;
   }
}

}  // namespace Agent

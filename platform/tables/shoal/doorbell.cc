#include "platform/tables/shoal/doorbell.h"

#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/framework/sentry/exception.h"
#include "platform/tables/shoal/table_state.h"

namespace Shoal {
namespace {

// The abstract address of process `pid`'s doorbell: a leading NUL, then the name.
sockaddr_un addressOf(pid_t pid, socklen_t& length) {
   static const std::string user = std::to_string(getuid());
   sockaddr_un address{};
   address.sun_family = AF_UNIX;
   const std::string name = "tessel-nat." + user + "." + std::to_string(pid) + ".doorbell";
   std::memcpy(address.sun_path + 1, name.data(), name.size());
   length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
   return address;
}

[[noreturn]] void throwSystemError(const std::string& what) {
   throw Sentry::Exception("doorbell: cannot " + what + ": " + std::strerror(errno));
}

}  // namespace

Doorbell::Doorbell(pid_t pid) : pid_(pid) {
   descriptor_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
   if (descriptor_ < 0) throwSystemError("make a socket");
   socklen_t length = 0;
   const sockaddr_un address = addressOf(pid, length);
   if (bind(descriptor_, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
      throwSystemError("bind its name");
   }
}

// Never destroyed: the system closes the socket with the process, and mounts may still be
// torn down by static destructors. Asked for at every change and every wake, so the process's
// pid is not asked of the system each time: a forked child forgets it.
Doorbell& Doorbell::self() {
   static Doorbell* doorbell = nullptr;
   static pid_t known = 0;
   static const bool forksForget =
       pthread_atfork(nullptr, nullptr, [] { known = 0; }) == 0;
   if (!forksForget || known == 0) known = getpid();
   if (!doorbell || doorbell->pid_ != known) {
      // A forked child holds its parent's socket, whose rings are not its own.
      if (doorbell) close(doorbell->descriptor_);
      doorbell = new Doorbell(known);
   }
   return *doorbell;
}

void Doorbell::doRing(pid_t pid) {
   static const int sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
   socklen_t length = 0;
   const sockaddr_un address = addressOf(pid, length);
   const char ring = 1;
   sendto(sender, &ring, 1, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&address), length);
}

bool Doorbell::doRingFor(TableHeader::MountSlot& mount, pid_t self) {
   const pid_t owner = Segment::atomicLoad(mount.pid);
   if (owner == self) return false;
   if (std::atomic_ref<U32>(mount.rung).exchange(1) == 0) doRing(owner);
   return true;
}

// Rings are taken many at a time: each is one byte, and every one wakes the same mounts.
void Doorbell::doAnswer() {
   constexpr unsigned batch = 64;
   std::array<char, batch> rings;
   std::array<iovec, batch> buffers;
   std::array<mmsghdr, batch> messages{};
   for (unsigned i = 0; i < batch; ++i) {
      buffers[i] = {&rings[i], 1};
      messages[i].msg_hdr.msg_iov = &buffers[i];
      messages[i].msg_hdr.msg_iovlen = 1;
   }
   while (recvmmsg(descriptor_, messages.data(), batch, MSG_DONTWAIT, nullptr) ==
          static_cast<int>(batch)) {
   }
   // Waking a mount only queues its drain, so the set does not change meanwhile.
   for (TableState* table : tables_) table->doWakeMounts();
}

}  // namespace Shoal

#include "platform/agent/command/listener.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace Agent {
namespace {

[[noreturn]] void throwSocketError(const Kiv::String& path, const char* step, int error) {
   throw std::system_error(error, std::generic_category(), "command socket " + path + ": " + step);
}

[[noreturn]] void refuse(const Kiv::String& path, const Kiv::String& why) {
   throw std::runtime_error("command socket " + path + ": " + why);
}

// Whether a server accepts connections at `address`. A full backlog counts: somebody listens.
// The probe's connection ends at once, which costs that server an accept and a closed read.
bool answers(const sockaddr_un& address, const Kiv::String& path) {
   const Descriptor probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
   if (probe.fd() < 0) throwSocketError(path, "socket", errno);
   if (::connect(probe.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
      return true;
   }
   if (errno == EAGAIN) return true;
   if (errno == ECONNREFUSED) return false;
   throwSocketError(path, "connect", errno);
}

// Clears the way for bind(). Only a socket nobody listens on is taken to be a previous agent's
// leftover: removing a live server's file would leave that server running but unreachable.
void doClaim(const sockaddr_un& address, const Kiv::String& path) {
   struct stat existing {};
   // Nothing there, or no directory for it: bind() finds out which.
   if (::lstat(path.c_str(), &existing) != 0) return;
   if (S_ISDIR(existing.st_mode)) refuse(path, "the path is a directory, not a socket");
   if (!S_ISSOCK(existing.st_mode)) refuse(path, "the path is a file, not a socket");
   if (answers(address, path)) {
      throw std::runtime_error("a command server already answers at " + path);
   }
   ::unlink(path.c_str());
}

Kiv::String directoryOf(const Kiv::String& path) {
   const std::size_t slash = path.rfind('/');
   if (slash == Kiv::String::npos) return ".";
   return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

Descriptor listenerAt(const Kiv::String& path) {
   Descriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
   if (listener.fd() < 0) throwSocketError(path, "socket", errno);
   sockaddr_un address{};
   address.sun_family = AF_UNIX;
   if (path.empty() || path.size() >= sizeof(address.sun_path)) {
      throwSocketError(path, "bind", path.empty() ? EINVAL : ENAMETOOLONG);
   }
   std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

   doClaim(address, path);
   if (::bind(listener.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
      if (errno == ENOENT) refuse(path, "directory " + directoryOf(path) + " does not exist");
      throwSocketError(path, "bind", errno);
   }
   const auto failAfterBind = [&path](const char* step) {
      const int error = errno;
      ::unlink(path.c_str());
      throwSocketError(path, step, error);
   };
   // Nobody can connect before listen(), so narrowing the mode in between leaves no window,
   // and unlike umask() it does not touch files other threads create meanwhile.
   if (::chmod(path.c_str(), S_IRUSR | S_IWUSR) != 0) failAfterBind("chmod");
   if (::listen(listener.fd(), SOMAXCONN) != 0) failAfterBind("listen");
   return listener;
}

}  // namespace Agent

#include "simulator/switch/command_client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Simulator {

std::string agentAnswer(const std::string& socketPath, const std::string& request) {
   sockaddr_un address{};
   address.sun_family = AF_UNIX;
   if (socketPath.size() >= sizeof(address.sun_path)) {
      throw std::invalid_argument("socket path too long: " + socketPath);
   }
   std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
   const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
   if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      const std::string why = std::strerror(errno);
      if (fd >= 0) close(fd);
      throw CommandUnanswered("cannot connect to " + socketPath + ": " + why);
   }
   const std::string line = request + "\n";
   const bool sent =
       ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
   std::string answer;
   char buffer[65536];
   ssize_t n = 0;
   while (sent && (n = read(fd, buffer, sizeof buffer)) > 0) answer.append(buffer, n);
   const int readError = errno;
   close(fd);
   if (!sent) throw CommandUnanswered(socketPath + ": the request could not be sent");
   if (n < 0) {
      throw CommandUnanswered(socketPath +
                              ": the answer could not be read: " + std::strerror(readError));
   }
   return answer;
}

}  // namespace Simulator

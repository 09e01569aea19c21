#include "simulator/command_line/show_client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "simulator/command_line/exit_status.h"
#include "simulator/switch/dump_table.h"

namespace Simulator {

int showClient(const std::string& socketPath, uint16_t module, bool table, std::ostream& out,
               std::ostream& err) {
   sockaddr_un address{};
   address.sun_family = AF_UNIX;
   if (socketPath.size() >= sizeof(address.sun_path)) {
      err << "tessel-nat: socket path too long: " << socketPath << "\n";
      return ExitStatus::badInput;
   }
   std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
   const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
   if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      err << "tessel-nat: cannot connect to " << socketPath << ": " << std::strerror(errno) << "\n";
      if (fd >= 0) close(fd);
      return ExitStatus::agentUnreachable;
   }
   const std::string request = "TesselNat " + std::to_string(module) + " show\n";
   const bool sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                     static_cast<ssize_t>(request.size());
   std::string answer;
   char buffer[65536];
   ssize_t n = 0;
   while (sent && (n = read(fd, buffer, sizeof buffer)) > 0) answer.append(buffer, n);
   const int readError = errno;
   close(fd);
   if (!sent) {
      err << "tessel-nat: " << socketPath << ": the request could not be sent\n";
      return ExitStatus::agentUnreachable;
   }
   if (n < 0) {
      err << "tessel-nat: " << socketPath
          << ": the answer could not be read: " << std::strerror(readError) << "\n";
      return ExitStatus::agentUnreachable;
   }
   if (answer.rfind("error: ", 0) == 0) {
      err << "tessel-nat: " << answer;
      return ExitStatus::agentUnreachable;
   }
   out << (table ? dumpTable(answer) : answer + "\n");
   return ExitStatus::ok;
}

}  // namespace Simulator

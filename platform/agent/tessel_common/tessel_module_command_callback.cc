#include "platform/agent/tessel_common/tessel_module_command_callback.h"

#include <charconv>
#include <stdexcept>

namespace Tessel {

void TesselModuleCommandCallback::handleCommand(U32 socket, Kiv::String command) {
   const std::size_t space = command.find(' ');
   const std::string_view number = std::string_view(command).substr(0, space);
   U16 unit = 0;
   const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), unit);
   if (number.empty() || error != std::errc() || end != number.data() + number.size()) {
      throw std::invalid_argument("command without a module number: '" + command + "'");
   }
   doProcessCommand(socket, space == Kiv::String::npos ? Kiv::String() : command.substr(space + 1),
                    unit);
}

}  // namespace Tessel

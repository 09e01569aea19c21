#include "simulator/command_line/show_client.h"

#include <chrono>
#include <thread>

#include "simulator/command_line/exit_status.h"
#include "simulator/switch/command_client.h"

namespace Simulator {

int showClient(const std::string& socketPath, uint16_t module, DumpFormat format,
               std::ostream& out, std::ostream& err) {
   std::string answer;
   // An agent that was just restarted serves the same path again within moments.
   const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(1);
   for (;;) {
      try {
         answer = agentAnswer(socketPath, "TesselNat " + std::to_string(module) + " show");
         break;
      } catch (const std::invalid_argument& error) {
         err << "tessel-nat: " << error.what() << "\n";
         return ExitStatus::badInput;
      } catch (const CommandUnanswered& error) {
         if (std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
         }
         err << "tessel-nat: " << error.what() << "\n";
         return ExitStatus::agentUnreachable;
      }
   }
   if (answer.rfind("error: ", 0) == 0) {
      err << "tessel-nat: " << answer;
      return ExitStatus::agentUnreachable;
   }
   out << dumpText(format, answer);
   return ExitStatus::ok;
}

}  // namespace Simulator

#pragma once

#include <cstddef>

namespace Shim {

// Every SDK operation that returns a code, so that a fault can be aimed at one of them. The
// register and memory field setters and the constant accessors touch no hardware and cannot fail.
enum class Operation {
   qualifySrcIp,
   qualifyDstIp,
   qualifyL4SrcPort,
   qualifyL4DstPort,
   qualifyL3Ingress,
   qualifyIpProtocol,
   qualifyIpFrag,
   qualifyTcpControl,
   actionRemoveAll,
   actionAdd,
   qualifySrcIpGet,
   qualifyDstIpGet,
   qualifyL4SrcPortGet,
   qualifyL4DstPortGet,
   qualifyL3IngressGet,
   qualifyIpProtocolGet,
   regGet,
   regSet,
   memRead,
   memWrite,
   entryCreate,
   entryDestroy,
   entryInstall,
   entryReinstall,
   entryCreateStaged,
   entryMultiGet,
   groupFlash,
   entryPrioSet,
};

inline constexpr std::size_t operationCount = 28;
static_assert(static_cast<std::size_t>(Operation::entryPrioSet) + 1 == operationCount,
              "operationCount must follow the last enumerator");

}  // namespace Shim

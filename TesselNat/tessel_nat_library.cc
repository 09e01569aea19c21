#include "TesselNat/tessel_nat_library.h"

#include "TesselNat/agent/nat_mounter.h"
#include "TesselNat/agent/nat_slave_root_sm.h"
#include "TesselNat/diagnostics/nat_cli_callback.h"
#include "TesselNat/event_log_messages.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "platform/framework/kiv/type_registry.h"
#include "platform/framework/trace/trace_handle.h"

namespace Tessel {

void tesselNatLibraryLoad() {
   Kiv::typeNodeIs(EntryIdTableEntry::typeNode());
   Kiv::typeNodeIs(NatSlaveProgrammerSm::typeNode());
   Kiv::typeNodeIs(NatMounter::typeNode());
   Kiv::typeNodeIs(NatSlaveRootSm::typeNode());
   Kiv::typeNodeIs(NatCliCallback::typeNode());

   TesselNat::tesselConfigChange();
   TesselNat::tesselUnexpectedRestart();
   Kiv::traceHandle("ApiTessel");
   TesselNat::tesselNatTcamResourceFull();
}

}  // namespace Tessel

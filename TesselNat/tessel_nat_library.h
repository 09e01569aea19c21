#pragma once

namespace Tessel {

// The plug-in library's name, under which the agent's loader loads it.
inline constexpr const char* tesselNatLibrary = "libTesselNat";

// What loading the library does, once per process: registers the plug-in's five types with
// the framework, in this order: "Tessel::EntryIdTableEntry", "Tessel::NatSlaveProgrammerSm",
// "Tessel::NatMounter", "Tessel::NatSlaveRootSm", "Tessel::NatCliCallback"; then defines the
// event-log messages TESSEL_CONFIG_CHANGE and TESSEL_UNEXPECTED_RESTART, the SDK trace
// facility "ApiTessel", and the message TESSEL_NAT_TCAM_RESOURCE_FULL. The default trace
// facility is made on its first use.
void tesselNatLibraryLoad();

}  // namespace Tessel

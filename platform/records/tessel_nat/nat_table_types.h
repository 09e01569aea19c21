#pragma once

namespace TesselNat {

// Registers the NAT tables (shadow, uid tables, module sets, translation requests and
// statuses) with the mount factory registry, so that mounting one by its type name creates
// it. Safe to call more than once.
void natTableTypesIs();

}  // namespace TesselNat

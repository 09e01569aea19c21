#pragma once

#include <string>
#include <vector>

#include "TesselNat/diagnostics/verify_disagreement.h"
#include "platform/records/ember/nat_hw_key.h"

namespace Simulator {

// A module's audit as the agent sends it on its command socket: the plug-in's verification
// of the module, the keys and entry ids of its entry-id table, which whoever asked weighs
// against the rules it published, and the entries its TCAM manager holds. Keys travel as the
// hex of their record, so they come back whole.
struct AuditReport {
   std::vector<Tessel::VerifyDisagreement> disagreements;
   std::vector<Ember::NatHwKey> recordedKeys;
   std::vector<U32> recordedEntries;
   std::vector<U32> heldEntries;
};

// One line per disagreement, "D\t<check>\t<key>\t<vlan>\t<entry>\t<expected>\t<read>\n", then
// one per recorded key, "K\t<key>\n", per recorded entry id, "E\t<id>\n", and per entry
// held, "H\t<id>\n".
std::string auditText(const AuditReport& report);
// The report auditText() wrote. Throws std::runtime_error, naming the line, for anything else.
AuditReport auditReportOf(const std::string& text);

}  // namespace Simulator

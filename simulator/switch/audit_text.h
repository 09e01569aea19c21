#pragma once

#include <map>
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

// A line "M\t<module>\n", then one per disagreement,
// "D\t<check>\t<key>\t<vlan>\t<entry>\t<expected>\t<read>\n", then one per recorded key,
// "K\t<key>\n", per recorded entry id, "E\t<id>\n", and per entry held, "H\t<id>\n". An answer
// holds one such section per module asked for.
std::string auditText(U16 module, const AuditReport& report);
// The reports of the sections auditText() wrote, by module. Throws std::runtime_error, naming
// the line, for anything else.
std::map<U16, AuditReport> auditReportsOf(const std::string& text);

}  // namespace Simulator

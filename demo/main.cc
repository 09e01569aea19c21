// Runs two NAT rules through a module's programmer on a simulated chip and shows what the
// chip then holds and what packets hit: a static destination NAT rule with a translated
// port on VLAN 10, then a dynamic source NAT flow that finds the TCAM full. Until the
// simulator program exists, this is the project's main program.

#include <iostream>
#include <string>

#include "TesselNat/programmer/nat_entry_constants.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "control_plane/nat_control_plane.h"
#include "platform/framework/kiv/activity_lock.h"
#include "platform/framework/trace/event_log.h"
#include "platform/switch/chip/simulated_chip.h"
#include "platform/switch/sdk/sdk.h"
#include "platform/switch/tcam/tessel_tcam_group_manager.h"

namespace {

constexpr U16 module = 1;

std::string actionName(S32 action) {
   const Shim::Sdk& sdk = Shim::sdk_;
   if (action == sdk.bcmFieldActionAssignExtractionCtrlId()) return "extraction-ctrl";
   if (action == sdk.bcmFieldActionAssignOpaqueObject1()) return "uid";
   if (action == sdk.bcmFieldActionCopyToCpuCancel()) return "copy-to-cpu-cancel";
   if (action == sdk.bcmFieldActionDropCancel()) return "drop-cancel";
   if (action == sdk.bcmFieldActionDrop()) return "drop";
   if (action == sdk.bcmFieldActionL3Switch()) return "l3-switch";
   return std::to_string(action);
}

void showEntry(Chip::SimulatedChip& chip, U32 entryId) {
   const auto entry = chip.entry(module, entryId);
   std::cout << "    entry " << entryId << ":";
   for (const Chip::FieldActionValue& action : entry->actions().items()) {
      std::cout << " " << actionName(action.action) << "=" << action.param0;
   }
   std::cout << "\n";
}

void showTable(const Tessel::NatSlaveProgrammerSm& programmer, Chip::SimulatedChip& chip) {
   programmer.entryIdTableForEach([&](const Tessel::EntryIdTableEntry& record) {
      std::cout << "  key " << record.key().stringValue() << "\n";
      for (const auto& [vlan, id] : record.defaultEntryIdMap()) {
         std::cout << "   vlan " << vlan << " default\n";
         showEntry(chip, id);
         if (record.fragEntryIdHas(vlan)) {
            std::cout << "   vlan " << vlan << " fragment\n";
            showEntry(chip, record.fragEntryId(vlan));
         }
      }
   });
}

void showHit(Chip::SimulatedChip& chip, const char* what, const Chip::Packet& packet) {
   const auto match = chip.classify(module, packet);
   std::cout << "  " << what << ": ";
   if (match) {
      std::cout << "hits entry " << match->entryId << "\n";
   } else {
      std::cout << "no match\n";
   }
}

void showStatus(const Quill::QuillShoalStatusDir& statuses, U32 uid) {
   bool found = false;
   const Quill::QuillShoalStatus status = statuses.safeLookup(Quill::QuillShoalKey(uid), found);
   std::cout << "status of uid " << uid << ": result " << status.result() << ", request "
             << status.reqVersion() << "\n";
}

}  // namespace

int main() {
   Kiv::StreamLogSink logToStdout(std::cout);
   Kiv::logSinkIs(&logToStdout);
   Kiv::ActivityGuard framework(Kiv::activityLock());

   Chip::SimulatedChip chip;
   Shim::ScopedBackend installed(chip);
   Kiv::Ptr<TesselTcamGroupManager> groups = new TesselTcamGroupManager(4096);
   groups->unboundedEntryManagerIs(
       TcamGroupConfig{Tessel::natTcamGroupAssignment, 1, /*entriesPerUnit=*/3, 2, 1});
   Kiv::Ptr<Shoal::SharedStore> sharedMemory = new Shoal::SharedStore;
   ControlPlane::NatControlPlane controlPlane(sharedMemory);
   Kiv::Ptr<Quill::QuillShoalStatusDir> statuses = new Quill::QuillShoalStatusDir("status/1");
   Kiv::Ptr<TesselCommonSmData> scsd = new TesselCommonSmData("tesselCommon");
   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = new Tessel::NatSlaveProgrammerSm(
       controlPlane.quillShoalConfigDir(), statuses, controlPlane.shadow(),
       controlPlane.uidHwKeyTable(), controlPlane.hwKeyUidTable(), controlPlane.ingModSetDir(),
       TesselCentral::ModId(module), groups, scsd);

   const Ember::NatHwKey web(Ember::NatKeyType::staticDestNat, {}, {},
                             {Netbase::IpAddr("203.0.113.5"), 80},
                             {Netbase::IpAddr("10.0.0.5"), 8080}, Ember::NatAclId(3), 0, 0);
   Ember::NatHwData webData(6, {}, 1, 5);
   const U16 vlans[] = {10};
   webData.vlanIdsIs(1, vlans);
   controlPlane.ruleIs({TesselNat::Uid(7), web, webData, {TesselCentral::ModId(module)}, {}});
   std::cout << "commit uid 7: " << web.stringValue() << " on VLAN 10\n";
   programmer->doCommitHwConfig(TesselNat::Uid(7));
   showStatus(*statuses, 7);
   showTable(*programmer, chip);

   Chip::Packet packet{.l3Ingress = 10,
                       .srcIp = Netbase::IpAddr("198.51.100.1").value(),
                       .dstIp = Netbase::IpAddr("203.0.113.5").value(),
                       .srcPort = 40000,
                       .dstPort = 80,
                       .ipProtocol = 6};
   std::cout << "packets to 203.0.113.5:80\n";
   showHit(chip, "TCP from VLAN 10", packet);
   packet.fragment = Chip::FragmentState::nonFirstFragment;
   showHit(chip, "non-first fragment from VLAN 10", packet);
   packet.fragment = Chip::FragmentState::notFragment;
   packet.l3Ingress = 20;
   showHit(chip, "TCP from VLAN 20", packet);

   const Ember::NatHwKey flow(Ember::NatKeyType::dynamicSrcNat, {Netbase::IpAddr("10.0.0.9"), 1000},
                              {Netbase::IpAddr("192.0.2.1"), 3000},
                              {Netbase::IpAddr("8.8.8.8"), 53}, {Netbase::IpAddr("8.8.8.8"), 53},
                              Ember::NatAclId(4), 17, 0);
   controlPlane.ruleIs({TesselNat::Uid(8),
                        flow,
                        Ember::NatHwData(0, {}, 1, ~U64{0}),
                        {TesselCentral::ModId(module)},
                        {}});
   std::cout << "commit uid 8 with one NAT entry left: " << flow.stringValue() << "\n";
   programmer->doCommitHwConfig(TesselNat::Uid(8));
   showStatus(*statuses, 8);
   std::cout << "entries held by module " << module << ": "
             << programmer->tcamEntryManager()->entriesHeld(module).size() << "\n";
   Kiv::logSinkIs(nullptr);
   return 0;
}

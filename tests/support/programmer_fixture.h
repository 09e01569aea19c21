#pragma once

#include <set>
#include <string>
#include <vector>

#include "TesselNat/programmer/nat_entry_constants.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "control_plane/nat_control_plane.h"
#include "platform/kiv_shoal/entity_manager.h"
#include "platform/tcam/tessel_tcam_group_manager.h"
#include "tests/platform/sdk/sdk_fixture.h"
#include "tests/support/nat_builders.h"

namespace NatTest {

// A NAT programmer for module 1 on a simulated chip, with the control plane's tables, the
// module's status directory, the shared agent state and a NAT TCAM group of `natEntries`
// entries per unit. Fatal assertions throw Kiv::AssertionFailure; SDK calls are traced.
class ProgrammerFixture : public ShimTest::SdkFixture {
protected:
   static constexpr U16 module = 1;
   static constexpr U32 natGroup = 1;

   explicit ProgrammerFixture(U32 natEntries = 48)
       : natEntryManager(groups->unboundedEntryManagerIs(
             TcamGroupConfig{Tessel::natTcamGroupAssignment, natGroup, natEntries, 2, 2})) {}

   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> newProgrammer() {
      return new Tessel::NatSlaveProgrammerSm(
          controlPlane.quillShoalConfigDir(), statusDir, controlPlane.shadow(),
          controlPlane.uidHwKeyTable(), controlPlane.hwKeyUidTable(), controlPlane.ingModSetDir(),
          TesselCentral::ModId(module), groups, scsd);
   }

   // The expression texts of the SDK calls traced since the last clear, in call order.
   std::vector<std::string> sdkCalls() const {
      std::vector<std::string> calls;
      const auto& messages = traces_.messages();
      for (size_t i = callsFrom_; i < messages.size(); ++i) {
         const Kiv::CapturedTrace& trace = messages[i];
         if (trace.facility != "ApiTessel") continue;
         const std::string& text = trace.text;
         const size_t start = text.find(' ') + 1;
         calls.push_back(text.substr(start, text.rfind(" (r") - start));
      }
      return calls;
   }
   void sdkCallsClear() { callsFrom_ = traces_.messages().size(); }

   // The ids the NAT entry manager holds for the module.
   std::set<U32> entriesHeld() const { return natEntryManager->entriesHeld(module); }

   Kiv::Ptr<KivShoal::EntityManager> entityManager = new KivShoal::EntityManager("agent");
   ControlPlane::NatControlPlane controlPlane{entityManager};
   Kiv::Ptr<Quill::QuillShoalStatusDir> statusDir = new Quill::QuillShoalStatusDir("status/1");
   Kiv::Ptr<TesselCommonSmData> scsd = new TesselCommonSmData("tesselCommon");
   Kiv::Ptr<TesselTcamGroupManager> groups = new TesselTcamGroupManager(64);
   Kiv::Ptr<TesselUnboundedTcamEntryManager> natEntryManager;

private:
   size_t callsFrom_ = 0;
};

}  // namespace NatTest

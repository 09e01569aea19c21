#pragma once

#include <set>
#include <string>
#include <vector>

#include "TesselNat/nat_trace.h"
#include "TesselNat/programmer/nat_entry_constants.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "control_plane/nat_control_plane.h"
#include "platform/framework/trace/capture_log_sink.h"
#include "platform/switch/tcam/tessel_tcam_group_manager.h"
#include "platform/tables/kiv_shoal/entity_manager.h"
#include "tests/platform/switch/sdk/sdk_fixture.h"
#include "tests/support/nat_builders.h"

namespace NatTest {

template <class T>
Kiv::Ptr<T> mounted(KivShoal::EntityManager& agent, const char* path, KivShoal::KivShoalType type) {
   return Kiv::ptrCast<T>(agent.doMount(path, T::typeName, KivShoal::MountInfo(type)));
}

// The module's status directory, created by the agent's writer mount.
inline Kiv::Ptr<Quill::QuillShoalStatusDir> statusDirOf(KivShoal::EntityManager& agent,
                                                        U16 module) {
   return mounted<Quill::QuillShoalStatusDir>(
       agent, Kiv::format("tesselnat/ingQuillShoalStatusDir/%d", module).c_str(),
       KivShoal::KivShoalType::writer);
}

// A programmer for `module` reading the control plane's tables through the agent's reader
// mounts.
inline Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmerOn(
    KivShoal::EntityManager& agent, const Kiv::Ptr<Quill::QuillShoalStatusDir>& statusDir,
    U16 module, const Kiv::Ptr<TesselTcamGroupManager>& groups,
    const Kiv::Ptr<TesselCommonSmData>& scsd) {
   constexpr auto reader = KivShoal::KivShoalType::reader;
   return new Tessel::NatSlaveProgrammerSm(
       mounted<Quill::QuillShoalConfigDir>(agent, ControlPlane::configDirPath, reader), statusDir,
       mounted<Ember::NatHwShadow>(agent, ControlPlane::shadowPath, reader),
       mounted<TesselNat::UidHwKeyTable>(agent, ControlPlane::uidHwKeyTablePath, reader),
       mounted<TesselNat::HwKeyUidTable>(agent, ControlPlane::hwKeyUidTablePath, reader),
       mounted<TesselNat::ModSetDir>(agent, ControlPlane::modSetDirPath, reader),
       TesselCentral::ModId(module), groups, scsd);
}

// A packet that the rule of `key` and `data` must translate on `vlan`: the key's old
// endpoints (`unnamed` for the address a static key leaves open) and the rule's protocol (the
// flow's for a dynamic key, UDP when the rule names none), a TCP one carrying an ACK.
inline Chip::Packet packetOf(const Ember::NatHwKey& key, const DataFields& data, U16 vlan,
                             U32 unnamed = 0) {
   const U32 srcIp = key.srcIpAndPortOld().ip().value();
   const U32 dstIp = key.dstIpAndPortOld().ip().value();
   const U8 protocol = key.dynProto() ? key.dynProto() : data.protocol ? data.protocol : U8{17};
   return {.l3Ingress = vlan,
           .srcIp = srcIp ? srcIp : unnamed,
           .dstIp = dstIp ? dstIp : unnamed,
           .srcPort = key.srcIpAndPortOld().port(),
           .dstPort = key.dstIpAndPortOld().port(),
           .ipProtocol = protocol,
           .tcpFlags = protocol == 6 ? Chip::tcpAck : U8{0}};
}

// A NAT programmer for module 1 on a simulated chip, with the control plane's tables, the
// module's status directory, the shared agent state and a NAT TCAM group of `natEntries`
// entries per unit. Fatal assertions throw Kiv::AssertionFailure; SDK calls and the
// programmer's step level are traced.
class ProgrammerFixture : public ShimTest::SdkFixture {
protected:
   static constexpr U16 module = 1;
   static constexpr U32 natGroup = 1;

   explicit ProgrammerFixture(U32 natEntries = 48)
       : natEntryManager(groups->unboundedEntryManagerIs(
             TcamGroupConfig{Tessel::natTcamGroupAssignment, natGroup, natEntries, 2, 2})) {
      // Only level 8, where the programmer traces its steps: a step traced at another level
      // is missed by the tests.
      programmerTrace.allLevelsIs(false);
      programmerTrace.levelIs(8, true);
   }

   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> newProgrammer() {
      return programmerOn(*entityManager, statusDir, module, groups, scsd);
   }

   // The expression texts of the SDK calls traced since the last clear, in call order.
   std::vector<std::string> sdkCalls() const {
      std::vector<std::string> calls;
      for (const std::string& text : tracesOn("ApiTessel")) {
         const size_t start = text.find(' ') + 1;
         calls.push_back(text.substr(start, text.rfind(" (r") - start));
      }
      return calls;
   }
   // The programmer's own traces since the last clear.
   std::vector<std::string> programmerTraces() const {
      return tracesOn("TesselSliceNatSlaveProgrammerSm");
   }
   void sdkCallsClear() { tracesFrom_ = traces_.messages().size(); }

   // Publishes a rule of one or more keys for this module (or, with `pending` false, for
   // another module only).
   void publish(U32 uid, const Ember::NatHwKey& hwKey0, const DataFields& data,
                bool pending = true) {
      const TesselCentral::ModId other(module + 1);
      controlPlane.ruleIs({TesselNat::Uid(uid),
                           hwKey0,
                           natData(data),
                           {pending ? TesselCentral::ModId(module) : other},
                           {}});
   }
   // Runs `body`, expecting it to stop with the fatal assertion `expression`.
   template <class F>
   void expectAssertion(const char* expression, F&& body) {
      try {
         body();
         ADD_FAILURE() << "no assertion, expected " << expression;
      } catch (const Kiv::AssertionFailure& failure) {
         EXPECT_EQ(failure.expression(), expression);
      }
   }

   Quill::QuillShoalStatus status(U32 uid) const {
      bool found = false;
      return statusDir->safeLookup(Quill::QuillShoalKey(uid), found);
   }

   // Tests build programmers for any module id the agent accepts.
   static std::set<U16> everyModule() {
      std::set<U16> modules;
      for (U16 module = 0; module <= 64; ++module) modules.insert(module);
      return modules;
   }

   // The ids the NAT entry manager holds for the module.
   std::set<U32> entriesHeld() const { return natEntryManager->entriesHeld(module); }

   Kiv::Ptr<Shoal::SharedStore> sharedMemory = new Shoal::SharedStore;
   ControlPlane::NatControlPlane controlPlane{sharedMemory, everyModule()};
   Kiv::Ptr<KivShoal::EntityManager> entityManager =
       new KivShoal::EntityManager("agent", sharedMemory);
   Kiv::Ptr<Quill::QuillShoalStatusDir> statusDir = statusDirOf(*entityManager, module);
   Kiv::Ptr<TesselCommonSmData> scsd = new TesselCommonSmData("tesselCommon");
   Kiv::Ptr<TesselTcamGroupManager> groups = new TesselTcamGroupManager(64);
   Kiv::Ptr<TesselUnboundedTcamEntryManager> natEntryManager;

   Kiv::CaptureLogSink logs;
   Kiv::TraceHandle& programmerTrace = Kiv::traceHandle("TesselSliceNatSlaveProgrammerSm");

private:
   std::vector<std::string> tracesOn(const std::string& facility) const {
      std::vector<std::string> texts;
      const auto& messages = traces_.messages();
      for (size_t i = tracesFrom_; i < messages.size(); ++i) {
         if (messages[i].facility == facility) texts.push_back(messages[i].text);
      }
      return texts;
   }

   size_t tracesFrom_ = 0;
};

}  // namespace NatTest

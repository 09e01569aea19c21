// Walks through the agent-side services the NAT plug-in is built on: the control plane
// publishes one NAT rule into mounted shared tables, the rule is read back the way the
// programmer reads it, a corrupt read is recovered, and the TCAM-full message is raised.
// Traces go to the standard error stream, everything else to the standard output.

#include <iostream>

#include "TesselNat/event_log_messages.h"
#include "platform/ember/nat_hw_shadow.h"
#include "platform/kiv/activity_lock.h"
#include "platform/kiv/reactor.h"
#include "platform/kiv_shoal/entity_manager.h"
#include "platform/quill/quill_shoal_dirs.h"
#include "platform/tessel_nat/nat_table_types.h"
#include "platform/tessel_nat/uid_tables.h"
#include "platform/trace/dual_trace.h"
#include "platform/trace/event_log.h"
#include "platform/trace/ring_trace.h"
#include "platform/trace/trace_sink.h"

namespace {

struct Tables {
   Kiv::Ptr<Quill::QuillShoalConfigDir> config;
   Kiv::Ptr<TesselNat::HwKeyUidTable> hwKeyUid;
   Kiv::Ptr<TesselNat::UidHwKeyTable> uidHwKey;
   Kiv::Ptr<Ember::NatHwShadow> shadow;
   Kiv::Ptr<TesselNat::ModSetDir> modSets;
};

class Demo;

class ReadyReactor : public Kiv::Reactor<Demo, KivSharedMem::MountGroup> {
public:
   using Reactor::Reactor;
   void onReady() override { std::cout << "mount group ready\n"; }
};

class Demo : public Kiv::PtrInterface {};

template <class Table>
Kiv::Ptr<Table> mount(const Kiv::Ptr<KivSharedMem::MountGroup>& group, const char* path,
                      KivShoal::KivShoalType type) {
   return Kiv::ptrCast<Table>(group->doMount(path, Table::typeName, KivShoal::MountInfo(type)));
}

Tables mountNatTables(const Kiv::Ptr<KivShoal::EntityManager>& manager) {
   auto group = manager->getMountGroup();
   Tables tables{
       mount<Quill::QuillShoalConfigDir>(group, "tesselnat/ingQuillShoalConfigDir",
                                         KivShoal::KivShoalType::writer),
       mount<TesselNat::HwKeyUidTable>(group, "tesselnat/hwKeyUidTable",
                                       KivShoal::KivShoalType::readerWriter),
       mount<TesselNat::UidHwKeyTable>(group, "tesselnat/uidHwKeyTable",
                                       KivShoal::KivShoalType::readerWriter),
       mount<Ember::NatHwShadow>(group, "tesselnat/hwShadow", KivShoal::KivShoalType::readerWriter),
       mount<TesselNat::ModSetDir>(group, "tesselnat/ingModSetDir",
                                   KivShoal::KivShoalType::readerWriter),
   };
   group->doClose();
   return tables;
}

// A static destination NAT rule with a translated port, uid 7, on VLAN 10, for module 1.
Ember::NatHwKey publishRule(const Tables& tables) {
   const TesselNat::Uid uid(7);
   const Ember::NatHwKey key(Ember::NatKeyType::staticDestNat, {}, {},
                             {Netbase::IpAddr("203.0.113.5"), 80},
                             {Netbase::IpAddr("10.0.0.5"), 8080}, Ember::NatAclId(3), 0, 0);
   Ember::NatHwData data(6, {}, 1, 42);
   const U16 vlans[] = {10};
   data.vlanIdsIs(1, vlans);
   tables.shadow->entryIs(
       Ember::NatHwShadowEntry(key, data, Ember::NatHwShadowEntry::Dirty::dirty));
   tables.hwKeyUid->entryIs(TesselNat::UidEntry(key, uid));
   tables.uidHwKey->entryIs(TesselNat::HwKeyEntry(uid, key));
   TesselNat::ModSet modules;
   modules.moduleIs(TesselCentral::ModId(1));
   tables.modSets->modSetIs(TesselNat::ModSetEntry(uid, modules));
   tables.config->quillConfigIs(Quill::QuillShoalConfig(Quill::QuillShoalKey(uid), 1));
   return key;
}

}  // namespace

int main() {
   Kiv::StreamTraceSink traceToStderr(std::cerr);
   Kiv::traceSinkIs(&traceToStderr);
   Kiv::StreamLogSink logToStdout(std::cout);
   Kiv::logSinkIs(&logToStdout);
   Kiv::TraceHandle& trace = Kiv::traceHandle("TesselSliceNatSlaveProgrammerSm");
   trace.levelIs(8, true);

   Kiv::ActivityGuard framework(Kiv::activityLock());
   TesselNat::natTableTypesIs();
   Kiv::Ptr<KivShoal::EntityManager> manager = new KivShoal::EntityManager("agent");
   Kiv::Ptr<Demo> demo = new Demo;
   Kiv::Ptr<ReadyReactor> ready = new ReadyReactor(demo.ptr(), manager->getMountGroup());
   ready->isActiveIs(true);

   const Tables tables = mountNatTables(manager);
   const Ember::NatHwKey key = publishRule(tables);
   std::cout << "published uid 7: " << key.stringValue() << "\n";

   bool found = false;
   const TesselNat::UidEntry uidEntry = tables.hwKeyUid->safeLookup(key, found);
   const Ember::NatHwShadowEntry shadow = tables.shadow->safeLookup(key, found);
   KIV_DUAL_TRACE(trace, 8, "SPSm::doCommitHwConfig uid: {} key: {} dirty: {}", uidEntry.uid(),
                  key.stringValue(), Ember::text(shadow.dirty()));
   std::cout << "read back: uid " << uidEntry.uid() << ", VLAN " << shadow.vlanId(0)
             << ", next hop " << shadow.nextHop() << "\n";

   tables.modSets->corruptionOnReadIs(1);
   const TesselNat::ModSetEntry modSet = tables.modSets->safeLookup(7, found);
   std::cout << "corrupt module-set read: found " << found << ", modules "
             << modSet.modSet().stringValue() << ", reports " << tables.modSets->corruptionReports()
             << "\n";

   Kiv::log(TesselNat::tesselNatTcamResourceFull(), key.stringValue());

   std::cout << "ring trace of this thread:\n";
   for (const Kiv::String& line : Kiv::RingTrace::lines()) std::cout << "  " << line << "\n";
   Kiv::traceSinkIs(nullptr);
   Kiv::logSinkIs(nullptr);
   return 0;
}

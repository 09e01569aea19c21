#include "TesselNat/nat_trace.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "TesselNat/programmer/shadow_data.h"
#include "platform/framework/kiv/assert.h"
#include "platform/framework/sentry/exception.h"
#include "platform/framework/trace/dual_trace.h"
#include "platform/switch/sdk/sdk_call.h"

// A verification check: the condition's own text is what verification stops with and what
// the audit reports, with the operation it sits in.
#define VERIFY_THAT(expr, expected, read)                                                       \
   verifyThat(static_cast<bool>(expr),                                                          \
              ::Kiv::AssertionSite{#expr, __FILE__, __LINE__, __PRETTY_FUNCTION__}, (expected), \
              (read))

namespace Tessel {
namespace {

Netbase::IpAddrWithFullMask exactly(Netbase::IpAddr address) {
   return Netbase::IpAddrWithFullMask(address, 0xFFFFFFFF);
}

// Clears the audit's findings pointer however the walk ends.
class AuditScope {
public:
   AuditScope(std::vector<VerifyDisagreement>*& findings, std::vector<VerifyDisagreement>& into)
       : findings_(findings) {
      findings_ = &into;
   }
   ~AuditScope() { findings_ = nullptr; }
   AuditScope(const AuditScope&) = delete;
   AuditScope& operator=(const AuditScope&) = delete;

private:
   std::vector<VerifyDisagreement>*& findings_;
};

}  // namespace

bool NatSlaveProgrammerSm::verifyThat(bool ok, const Kiv::AssertionSite& site, U64 expected,
                                      U64 read) {
   if (ok) return true;
   if (!auditFindings_) Kiv::assertionFailed(site);
   VerifyDisagreement& found = auditFindings_->emplace_back(verifyAt_);
   found.check = site.expression;
   found.expected = expected;
   found.read = read;
   return false;
}

std::vector<VerifyDisagreement> NatSlaveProgrammerSm::doAudit() {
   std::vector<VerifyDisagreement> findings;
   const AuditScope scope(auditFindings_, findings);
   doVerify();
   return findings;
}

// The checks read one qualifier each, with the lock released for the read only; an absent
// qualifier (any code but success) stands for an expected 0.
void NatSlaveProgrammerSm::doVerifySrcIp(U32 entryId, const Netbase::IpAddrWithFullMask& ipAddr) {
   U32 ip = 0;
   U32 mask = 0;
   if (SDK_READ( bcm_field_qualify_SrcIp_get( unit(), entryId, &ip, &mask ) ) ==
                                              Shim::sdk_.BCM_E_NONE()) {
      VERIFY_THAT( ip == ipAddr.address().value() , ipAddr.address().value(), ip);
      VERIFY_THAT( mask == ipAddr.mask() , ipAddr.mask(), mask);
   } else {
      VERIFY_THAT( ipAddr.address().value() == 0 , ipAddr.address().value(), 0);
   }
}

void NatSlaveProgrammerSm::doVerifyDstIp(U32 entryId, const Netbase::IpAddrWithFullMask& ipAddr) {
   U32 ip = 0;
   U32 mask = 0;
   if (SDK_READ( bcm_field_qualify_DstIp_get( unit(), entryId, &ip, &mask ) ) ==
                                              Shim::sdk_.BCM_E_NONE()) {
      VERIFY_THAT( ip == ipAddr.address().value() , ipAddr.address().value(), ip);
      VERIFY_THAT( mask == ipAddr.mask() , ipAddr.mask(), mask);
   } else {
      VERIFY_THAT( ipAddr.address().value() == 0 , ipAddr.address().value(), 0);
   }
}

void NatSlaveProgrammerSm::doVerifySrcL4Port(U32 entryId, U16 l4Port) {
   U32 port = 0;
   U32 mask = 0;
   if (SDK_READ( bcm_field_qualify_L4SrcPort_get( unit(), entryId, &port, &mask ) ) ==
                                                  Shim::sdk_.BCM_E_NONE()) {
      VERIFY_THAT( port == l4Port , l4Port, port);
      if (l4Port != 0) VERIFY_THAT( mask == ( U16 )-1 , 0xFFFF, mask);
   } else {
      VERIFY_THAT( l4Port == 0 , l4Port, 0);
   }
}

void NatSlaveProgrammerSm::doVerifyDstL4Port(U32 entryId, U16 l4Port) {
   U32 port = 0;
   U32 mask = 0;
   if (SDK_READ( bcm_field_qualify_L4DstPort_get( unit(), entryId, &port, &mask ) ) ==
                                                  Shim::sdk_.BCM_E_NONE()) {
      VERIFY_THAT( port == l4Port , l4Port, port);
      if (l4Port != 0) VERIFY_THAT( mask == ( U16 )-1 , 0xFFFF, mask);
   } else {
      VERIFY_THAT( l4Port == 0 , l4Port, 0);
   }
}

void NatSlaveProgrammerSm::doVerifyIpProtocol(U32 entryId, U8 protocol) {
   U8 proto = 0;
   U8 mask = 0;
   if (SDK_READ( bcm_field_qualify_IpProtocol_get( unit(), entryId, &proto, &mask ) ) ==
                                                   Shim::sdk_.BCM_E_NONE()) {
      VERIFY_THAT( proto == protocol , protocol, proto);
      if (protocol != 0) VERIFY_THAT( mask == 0xff , 0xFF, mask);
   } else {
      VERIFY_THAT( protocol == 0 , protocol, 0);
   }
}

void NatSlaveProgrammerSm::doVerifyL3Ingress(U32 entryId, U16 vlanId) {
   U32 intf = 0;
   U32 mask = 0;
   if (SDK_READ( bcm_field_qualify_L3Ingress_get( unit(), entryId, &intf, &mask ) ) ==
                                                  Shim::sdk_.BCM_E_NONE()) {
      VERIFY_THAT( intf == vlanId , vlanId, intf);
      if (vlanId != 0) VERIFY_THAT( mask == 0x1fff , 0x1FFF, mask);
   } else {
      VERIFY_THAT( vlanId == 0 , vlanId, 0);
   }
}

// Pass 1 walks the entry-id table against the shadow, pass 2 the shadow against the table and
// the chip; the first disagreement stops the agent, unless an audit collects them. Records
// and shadow data are copied one at a time, and the shadow data afresh for each entry read
// back.
void NatSlaveProgrammerSm::doVerify() {
   KIV_DUAL_TRACE(natTrace(), traceStep, "SPSm::doVerify");
   verifyAt_ = VerifyDisagreement();
   VERIFY_THAT( entryIdTables() == shadow()->entrys() , shadow()->entrys(), entryIdTables());
   using Ember::NatKeyType;
   bool found = false;
   // A plain loop, not a visitor: a failed check names doVerify itself. The shadow reads
   // ahead of the lookups of the records two and one places on.
   for (auto record = entryIdTable_.begin(); record != entryIdTable_.end(); ++record) {
      if (entryIdTable_.end() - record > 2) shadow()->indexReadAheadOf(record[2].key());
      if (entryIdTable_.end() - record > 1) shadow()->entryReadAheadOf(record[1].key());
      const EntryIdTableEntry entry = *record;
      const Ember::NatHwKey hwKey = entry.key();
      verifyAt_.key = hwKey;
      VERIFY_THAT( shadow()->entryHas( hwKey ) , 1, 0);
      const NatKeyType type = hwKey.type();
      if (type == NatKeyType::dynamicSrcNat || hwKey.isStaticSrcNat() ||
          type == NatKeyType::twiceSrcNat) {
         VERIFY_THAT( entry.defaultEntryIds() == 1 , 1, entry.defaultEntryIds());
      } else if (type == NatKeyType::dynamicDestNat || hwKey.isStaticDestNat() ||
                 type == NatKeyType::twiceDestNat) {
         const Ember::NatHwData shadowData = shadowDataOf(shadow()->safeLookup(hwKey, found));
         VERIFY_THAT( entry.defaultEntryIds() == shadowData.vlanIds() , shadowData.vlanIds(),
                      entry.defaultEntryIds());
         for (U32 i = 0; i < shadowData.vlanIds(); ++i) {
            const U16 vlanId = shadowData.vlanId(Ember::NatVlanIdIndex(i));
            verifyAt_.vlanId = vlanId;
            VERIFY_THAT( entry.defaultEntryIdHas( vlanId ) , vlanId, 0);
         }
         verifyAt_.vlanId = 0;
      } else {
         VERIFY_THAT( 0 && "unsupported translation type" , 0, static_cast<U32>(type));
      }
   }

   Ember::NatHwKey hwKey;
   Shoal::IterHint hint;
   bool more = false;
   try {
      more = shadow()->first(hwKey, hint);
   } catch (const Sentry::CorruptionDetectedException& e) {
      shadow()->doCorruptionDetected(e.msg());
   }
   const auto next = [&] {
      try {
         return shadow()->next(hwKey, hint);
      } catch (const Sentry::CorruptionDetectedException& e) {
         shadow()->doCorruptionDetected(e.msg());
         return false;
      }
   };
   for (; more; more = next()) {
      verifyAt_ = VerifyDisagreement();
      verifyAt_.key = hwKey;
      if (!VERIFY_THAT( entryIdTableHas( hwKey ) , 1, 0)) continue;
      const EntryIdTableEntry entry = entryIdTable(hwKey);
      for (const auto& [vlanId, defaultId] : entry.defaultEntryIdMap()) {
         const U32 fragId = entry.fragEntryIdHas(vlanId) ? entry.fragEntryId(vlanId) : 0;
         verifyAt_.vlanId = vlanId;
         for (const bool frag : {false, true}) {
            const U32 entryId = frag ? fragId : defaultId;
            verifyAt_.entryId = entryId;
            if (!frag) {
               if (!VERIFY_THAT( entryId != 0 , 1, 0)) continue;
            } else if (entryId == 0) {
               VERIFY_THAT( !hwKey.isStaticNapt() && !hwKey.isTwiceNapt() , 0, 1);
               continue;
            }
            const Ember::NatHwData shadowData = shadowDataOf(shadow()->safeLookup(hwKey, found));
            const Netbase::IpAndPort src = hwKey.srcIpAndPortOld();
            const Netbase::IpAndPort dst = hwKey.dstIpAndPortOld();
            const U16 srcPort = frag ? 0 : src.port();
            const U16 dstPort = frag ? 0 : dst.port();
            const NatKeyType type = hwKey.type();
            if (hwKey.isStaticSrcNat()) {
               doVerifySrcIp(entryId, exactly(src.ip()));
               doVerifyDstIp(entryId, shadowData.filterAddr());
               doVerifyL3Ingress(entryId, 0);
               doVerifySrcL4Port(entryId, srcPort);
               doVerifyIpProtocol(entryId, shadowData.protocol());
            } else if (type == NatKeyType::twiceSrcNat) {
               doVerifySrcIp(entryId, exactly(src.ip()));
               doVerifyDstIp(entryId, exactly(dst.ip()));
               doVerifyDstL4Port(entryId, dstPort);
               doVerifyL3Ingress(entryId, 0);
               doVerifySrcL4Port(entryId, srcPort);
               doVerifyIpProtocol(entryId, shadowData.protocol());
            } else if (hwKey.isStaticDestNat()) {
               doVerifyL3Ingress(entryId, vlanId);
               doVerifySrcIp(entryId, shadowData.filterAddr());
               doVerifyDstIp(entryId, exactly(dst.ip()));
               doVerifyDstL4Port(entryId, dstPort);
               doVerifyIpProtocol(entryId, shadowData.protocol());
            } else if (type == NatKeyType::twiceDestNat) {
               doVerifyL3Ingress(entryId, vlanId);
               doVerifySrcIp(entryId, exactly(src.ip()));
               doVerifySrcL4Port(entryId, srcPort);
               doVerifyDstIp(entryId, exactly(dst.ip()));
               doVerifyDstL4Port(entryId, dstPort);
               doVerifyIpProtocol(entryId, shadowData.protocol());
            } else if (type == NatKeyType::dynamicSrcNat || type == NatKeyType::dynamicDestNat) {
               doVerifySrcIp(entryId, exactly(src.ip()));
               doVerifyDstIp(entryId, exactly(dst.ip()));
               doVerifyIpProtocol(entryId, hwKey.dynProto());
               doVerifySrcL4Port(entryId, srcPort);
               doVerifyDstL4Port(entryId, dstPort);
            } else {
               VERIFY_THAT( 0 , 0, static_cast<U32>(type));
            }
         }
      }
   }
}

}  // namespace Tessel

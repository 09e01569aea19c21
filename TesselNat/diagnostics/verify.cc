#include "TesselNat/nat_trace.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "TesselNat/programmer/shadow_data.h"
#include "platform/framework/kiv/assert.h"
#include "platform/framework/sentry/exception.h"
#include "platform/framework/trace/dual_trace.h"
#include "platform/switch/sdk/sdk_call.h"

namespace Tessel {
namespace {

Netbase::IpAddrWithFullMask exactly(Netbase::IpAddr address) {
   return Netbase::IpAddrWithFullMask(address, 0xFFFFFFFF);
}

}  // namespace

// The checks read one qualifier each, with the lock released for the read only; an absent
// qualifier (any code but success) stands for an expected 0.
void NatSlaveProgrammerSm::doVerifySrcIp(U32 entryId, const Netbase::IpAddrWithFullMask& ipAddr) {
   U32 ip = 0;
   U32 mask = 0;
   if (SDK_READ( bcm_field_qualify_SrcIp_get( unit(), entryId, &ip, &mask ) ) ==
                                              Shim::sdk_.BCM_E_NONE()) {
      KIV_ASSERT( ip == ipAddr.address().value() );
      KIV_ASSERT( mask == ipAddr.mask() );
   } else {
      KIV_ASSERT( ipAddr.address().value() == 0 );
   }
}

void NatSlaveProgrammerSm::doVerifyDstIp(U32 entryId, const Netbase::IpAddrWithFullMask& ipAddr) {
   U32 ip = 0;
   U32 mask = 0;
   if (SDK_READ( bcm_field_qualify_DstIp_get( unit(), entryId, &ip, &mask ) ) ==
                                              Shim::sdk_.BCM_E_NONE()) {
      KIV_ASSERT( ip == ipAddr.address().value() );
      KIV_ASSERT( mask == ipAddr.mask() );
   } else {
      KIV_ASSERT( ipAddr.address().value() == 0 );
   }
}

void NatSlaveProgrammerSm::doVerifySrcL4Port(U32 entryId, U16 l4Port) {
   U32 port = 0;
   U32 mask = 0;
   if (SDK_READ( bcm_field_qualify_L4SrcPort_get( unit(), entryId, &port, &mask ) ) ==
                                                  Shim::sdk_.BCM_E_NONE()) {
      KIV_ASSERT( port == l4Port );
      if (l4Port != 0) KIV_ASSERT( mask == ( U16 )-1 );
   } else {
      KIV_ASSERT( l4Port == 0 );
   }
}

void NatSlaveProgrammerSm::doVerifyDstL4Port(U32 entryId, U16 l4Port) {
   U32 port = 0;
   U32 mask = 0;
   if (SDK_READ( bcm_field_qualify_L4DstPort_get( unit(), entryId, &port, &mask ) ) ==
                                                  Shim::sdk_.BCM_E_NONE()) {
      KIV_ASSERT( port == l4Port );
      if (l4Port != 0) KIV_ASSERT( mask == ( U16 )-1 );
   } else {
      KIV_ASSERT( l4Port == 0 );
   }
}

void NatSlaveProgrammerSm::doVerifyIpProtocol(U32 entryId, U8 protocol) {
   U8 proto = 0;
   U8 mask = 0;
   if (SDK_READ( bcm_field_qualify_IpProtocol_get( unit(), entryId, &proto, &mask ) ) ==
                                                   Shim::sdk_.BCM_E_NONE()) {
      KIV_ASSERT( proto == protocol );
      if (protocol != 0) KIV_ASSERT( mask == 0xff );
   } else {
      KIV_ASSERT( protocol == 0 );
   }
}

void NatSlaveProgrammerSm::doVerifyL3Ingress(U32 entryId, U16 vlanId) {
   U32 intf = 0;
   U32 mask = 0;
   if (SDK_READ( bcm_field_qualify_L3Ingress_get( unit(), entryId, &intf, &mask ) ) ==
                                                  Shim::sdk_.BCM_E_NONE()) {
      KIV_ASSERT( intf == vlanId );
      if (vlanId != 0) KIV_ASSERT( mask == 0x1fff );
   } else {
      KIV_ASSERT( vlanId == 0 );
   }
}

// Pass 1 walks the entry-id table against the shadow, pass 2 the shadow against the table and
// the chip; the first disagreement stops the agent. Records and shadow data are copied one
// at a time, and the shadow data afresh for each entry read back.
void NatSlaveProgrammerSm::doVerify() {
   KIV_DUAL_TRACE(natTrace(), traceStep, "SPSm::doVerify");
   KIV_ASSERT( entryIdTables() == shadow()->entrys() );
   using Ember::NatKeyType;
   bool found = false;
   entryIdTableForEach([&](const EntryIdTableEntry& record) {
      const EntryIdTableEntry entry = record;
      const Ember::NatHwKey hwKey = entry.key();
      KIV_ASSERT( shadow()->entryHas( hwKey ) );
      const NatKeyType type = hwKey.type();
      if (type == NatKeyType::dynamicSrcNat || hwKey.isStaticSrcNat() ||
          type == NatKeyType::twiceSrcNat) {
         KIV_ASSERT( entry.defaultEntryIds() == 1 );
      } else if (type == NatKeyType::dynamicDestNat || hwKey.isStaticDestNat() ||
                 type == NatKeyType::twiceDestNat) {
         const Ember::NatHwData shadowData = shadowDataOf(shadow()->safeLookup(hwKey, found));
         KIV_ASSERT( entry.defaultEntryIds() == shadowData.vlanIds() );
         for (U32 i = 0; i < shadowData.vlanIds(); ++i) {
            const U16 vlanId = shadowData.vlanId(Ember::NatVlanIdIndex(i));
            KIV_ASSERT( entry.defaultEntryIdHas( vlanId ) );
         }
      } else {
         KIV_ASSERT( 0 && "unsupported translation type" );
      }
   });

   Ember::NatHwKey hwKey;
   Shoal::IterHint hint;
   bool more = false;
   try {
      more = shadow()->first(hwKey, hint);
   } catch (const Sentry::CorruptionDetectedException& e) {
      shadow()->doCorruptionDetected(e.msg());
   }
   while (more) {
      KIV_ASSERT( entryIdTableHas( hwKey ) );
      const EntryIdTableEntry entry = entryIdTable(hwKey);
      for (const auto& [vlanId, defaultId] : entry.defaultEntryIdMap()) {
         const U32 fragId = entry.fragEntryIdHas(vlanId) ? entry.fragEntryId(vlanId) : 0;
         for (const bool frag : {false, true}) {
            const U32 entryId = frag ? fragId : defaultId;
            if (!frag) KIV_ASSERT( entryId != 0 );
            if (entryId == 0) {
               KIV_ASSERT( !hwKey.isStaticNapt() && !hwKey.isTwiceNapt() );
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
               KIV_ASSERT( 0 );
            }
         }
      }
      try {
         more = shadow()->next(hwKey, hint);
      } catch (const Sentry::CorruptionDetectedException& e) {
         shadow()->doCorruptionDetected(e.msg());
         more = false;
      }
   }
}

}  // namespace Tessel

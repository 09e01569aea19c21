#include "TesselNat/programmer/entry_action_values.h"
#include "TesselNat/programmer/nat_entry_constants.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "platform/framework/kiv/assert.h"
#include "platform/switch/sdk/sdk_call.h"

namespace Tessel {

// The SDK calls are written out in this one function, in the order the chip expects them,
// so that each call's trace and failure line name this operation. The source family removes
// the old actions before its first qualifier, the destination family after its last; in
// both, the removal precedes every action. Qualifiers are simply written again on an update.
void NatSlaveProgrammerSm::doProgramEntry(U32 entryId, bool reinstall, bool frag,
                                          const Ember::NatHwKey& hwKey,
                                          const Ember::NatHwData& shadowData,
                                          const Ember::NatHwKey& hwKey0,
                                          const Ember::NatHwData& shadowData0, U16 vlanId,
                                          U32 uid) {
   const Ember::NatKeyType type = hwKey.type();
   if (type == Ember::NatKeyType::dynamicSrcNat || type == Ember::NatKeyType::dynamicDestNat) {
      doProgramDynamicNatEntry(entryId, reinstall, frag, hwKey, shadowData, hwKey0, shadowData0,
                               uid);
      return;
   }

   const Shim::Sdk& sdk = Shim::sdk_;
   const S32 bcmFieldIpFragAny = sdk.bcmFieldIpFragAny();
   const S32 bcmFieldActionAssignExtractionCtrlId = sdk.bcmFieldActionAssignExtractionCtrlId();
   const S32 bcmFieldActionAssignOpaqueObject1 = sdk.bcmFieldActionAssignOpaqueObject1();
   const S32 bcmFieldActionCopyToCpuCancel = sdk.bcmFieldActionCopyToCpuCancel();
   const S32 bcmFieldActionDropCancel = sdk.bcmFieldActionDropCancel();
   const S32 bcmFieldActionL3Switch = sdk.bcmFieldActionL3Switch();
   const S32 bcmFieldActionDrop = sdk.bcmFieldActionDrop();
   const U64 nh = shadowData.nextHop();
   const bool filtered = shadowData.filterAddr().address().value() != 0;
   U32 extractionCtrlId = 0;

   if (hwKey.isStaticSrcNat() || type == Ember::NatKeyType::twiceSrcNat) {
      if (reinstall) SDK_CALL( bcm_field_action_remove_all( unit(), entryId ) );
      SDK_CALL( bcm_field_qualify_SrcIp( unit(), entryId, hwKey.srcIpAndPortOld().ip().value(), -1 ) );
      if (!frag && hwKey.srcIpAndPortOld().port() != 0) {
         SDK_CALL( bcm_field_qualify_L4SrcPort( unit(), entryId, hwKey.srcIpAndPortOld().port(), -1 ) );
      }
      extractionCtrlId = Tessel::extractionCtrlId(hwKey, frag);
      if (type == Ember::NatKeyType::twiceSrcNat) {
         SDK_CALL( bcm_field_qualify_DstIp( unit(), entryId, hwKey.dstIpAndPortOld().ip().value(), -1 ) );
         if (!frag && hwKey.dstIpAndPortOld().port() != 0) {
            SDK_CALL( bcm_field_qualify_L4DstPort( unit(), entryId, hwKey.dstIpAndPortOld().port(), -1 ) );
         }
         if (nh == nextHopDrop) {
            SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionDrop, 0, 0 ) );
         } else if (nh != nextHopUnchanged) {
            const U32 nextHopId = Tessel::nextHopId(nh, shadowData0);
            SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionCopyToCpuCancel, 0, 0 ) );
            SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionDropCancel, 0, 0 ) );
            SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionL3Switch, nextHopId, 0 ) );
         }
      } else if (filtered) {
         SDK_CALL( bcm_field_qualify_DstIp( unit(), entryId, shadowData.filterAddr().address().value(), shadowData.filterAddr().mask() ) );
      }
      if (frag) SDK_CALL( bcm_field_qualify_IpFrag( unit(), entryId, bcmFieldIpFragAny ) );
      if (shadowData0.protocol() != 0) {
         SDK_CALL( bcm_field_qualify_IpProtocol( unit(), entryId, shadowData.protocol(), TCAM_FIELD_IPPROTO_MASK ) );
      }
      SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionAssignExtractionCtrlId, extractionCtrlId, 0x1f ) );
      SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionAssignOpaqueObject1, uid, 0 ) );
   } else if (hwKey.isStaticDestNat() || type == Ember::NatKeyType::twiceDestNat) {
      KIV_ASSERT( vlanId );
      SDK_CALL( bcm_field_qualify_L3Ingress( unit(), entryId, vlanId, -1 ) );
      if (type == Ember::NatKeyType::twiceDestNat) {
         extractionCtrlId = Tessel::extractionCtrlId(hwKey, frag);
         SDK_CALL( bcm_field_qualify_SrcIp( unit(), entryId, hwKey.srcIpAndPortOld().ip().value(), -1 ) );
         if (!frag && hwKey.srcIpAndPortOld().port() != 0) {
            SDK_CALL( bcm_field_qualify_L4SrcPort( unit(), entryId, hwKey.srcIpAndPortOld().port(), -1 ) );
         }
      } else {
         if (filtered) {
            SDK_CALL( bcm_field_qualify_SrcIp( unit(), entryId, shadowData.filterAddr().address().value(), shadowData.filterAddr().mask() ) );
         }
         extractionCtrlId = Tessel::extractionCtrlId(hwKey, frag);
      }
      SDK_CALL( bcm_field_qualify_DstIp( unit(), entryId, hwKey.dstIpAndPortOld().ip().value(), -1 ) );
      if (frag) {
         SDK_CALL( bcm_field_qualify_IpFrag( unit(), entryId, bcmFieldIpFragAny ) );
      } else if (hwKey.dstIpAndPortOld().port() != 0) {
         SDK_CALL( bcm_field_qualify_L4DstPort( unit(), entryId, hwKey.dstIpAndPortOld().port(), -1 ) );
      }
      if (shadowData0.protocol() != 0) {
         SDK_CALL( bcm_field_qualify_IpProtocol( unit(), entryId, shadowData.protocol(), TCAM_FIELD_IPPROTO_MASK ) );
      }
      if (reinstall) SDK_CALL( bcm_field_action_remove_all( unit(), entryId ) );
      SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionAssignExtractionCtrlId, extractionCtrlId, 0x1f ) );
      SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionAssignOpaqueObject1, uid, 0 ) );
      SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionCopyToCpuCancel, 0, 0 ) );
      if (nh == nextHopDrop) {
         SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionDrop, 0, 0 ) );
      } else if (nh != nextHopUnchanged) {
         const U32 nextHopId = Tessel::nextHopId(nh, shadowData0);
         SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionDropCancel, 0, 0 ) );
         SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionL3Switch, nextHopId, 0 ) );
      }
   } else {
      KIV_ASSERT( 0 && "Unsupported NAT configuration" );
   }
   installEntry(entryId, reinstall);
}

}  // namespace Tessel

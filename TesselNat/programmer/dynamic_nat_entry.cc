#include "TesselNat/programmer/entry_action_values.h"
#include "TesselNat/programmer/nat_entry_constants.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "platform/framework/kiv/assert.h"
#include "platform/switch/sdk/sdk_call.h"

namespace Tessel {

// A dynamic entry matches one flow exactly: both addresses, the protocol and, on the default
// entry, both ports (a port of 0 is an exact match on 0). It carries no VLAN qualifier, so a
// destination key programmed on several VLANs gets identical entries. Unlike the static
// destination types, a next hop of 0 adds no drop.
void NatSlaveProgrammerSm::doProgramDynamicNatEntry(U32 entryId, bool reinstall, bool frag,
                                                    const Ember::NatHwKey& hwKey,
                                                    const Ember::NatHwData& shadowData,
                                                    const Ember::NatHwKey&,
                                                    const Ember::NatHwData& shadowData0, U32 uid) {
   const Shim::Sdk& sdk = Shim::sdk_;
   const S32 bcmFieldIpFragAny = sdk.bcmFieldIpFragAny();
   const S32 bcmFieldActionAssignExtractionCtrlId = sdk.bcmFieldActionAssignExtractionCtrlId();
   const S32 bcmFieldActionAssignOpaqueObject1 = sdk.bcmFieldActionAssignOpaqueObject1();
   const S32 bcmFieldActionCopyToCpuCancel = sdk.bcmFieldActionCopyToCpuCancel();
   const S32 bcmFieldActionDropCancel = sdk.bcmFieldActionDropCancel();
   const S32 bcmFieldActionL3Switch = sdk.bcmFieldActionL3Switch();
   const bool destination = hwKey.type() == Ember::NatKeyType::dynamicDestNat;

   SDK_CALL( bcm_field_qualify_SrcIp( unit(), entryId, hwKey.srcIpAndPortOld().ip().value(), -1 ) );
   SDK_CALL( bcm_field_qualify_DstIp( unit(), entryId, hwKey.dstIpAndPortOld().ip().value(), -1 ) );
   SDK_CALL( bcm_field_qualify_IpProtocol( unit(), entryId, hwKey.dynProto(), TCAM_FIELD_IPPROTO_MASK ) );
   // A destination flow is only ever programmed for a rule with at least one VLAN.
   if (frag) {
      if (destination) KIV_ASSERT( shadowData0.vlanId( 0 ) );
      SDK_CALL( bcm_field_qualify_IpFrag( unit(), entryId, bcmFieldIpFragAny ) );
   } else {
      SDK_CALL( bcm_field_qualify_L4SrcPort( unit(), entryId, hwKey.srcIpAndPortOld().port(), -1 ) );
      SDK_CALL( bcm_field_qualify_L4DstPort( unit(), entryId, hwKey.dstIpAndPortOld().port(), -1 ) );
      if (destination) KIV_ASSERT( shadowData0.vlanId( 0 ) );
   }
   const U32 extractionCtrlId = Tessel::extractionCtrlId(hwKey, frag);
   if (hwKey.dynProto() == ipProtocolTcp) {
      SDK_CALL( bcm_field_qualify_TcpControl( unit(), entryId, 0, TCAM_FIELD_TCP_CONTROL_MASK ) );
   }
   if (reinstall) SDK_CALL( bcm_field_action_remove_all( unit(), entryId ) );
   SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionAssignOpaqueObject1, uid, 0 ) );
   SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionCopyToCpuCancel, 0, 0 ) );
   SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionAssignExtractionCtrlId, extractionCtrlId, 0x1f ) );
   if (!destination) {
      SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionDropCancel, 0, 0 ) );
   } else if (shadowData.nextHop() != nextHopDrop && shadowData.nextHop() != nextHopUnchanged) {
      const U32 nextHopId = Tessel::nextHopId(shadowData.nextHop(), shadowData0);
      SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionDropCancel, 0, 0 ) );
      SDK_CALL( bcm_field_action_add( unit(), entryId, bcmFieldActionL3Switch, nextHopId, 0 ) );
   }
   installEntry(entryId, reinstall);
}

}  // namespace Tessel

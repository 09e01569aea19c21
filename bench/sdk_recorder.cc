#include "bench/sdk_recorder.h"

#include "bench/heap_counter.h"
#include "platform/switch/sdk/sdk_call.h"

namespace Bench {
namespace {

// Makes `call` on `backend`: a chip's backend, or the SDK itself.
template <class Call, class Op, class Backend>
S32 make(Backend& backend, const Call& call) {
   const S32 u = call.unit;
   const U32 e = call.entry;
   switch (call.op) {
      case Op::srcIp:
         return backend.bcm_field_qualify_SrcIp(u, e, call.a, call.b);
      case Op::dstIp:
         return backend.bcm_field_qualify_DstIp(u, e, call.a, call.b);
      case Op::l4SrcPort:
         return backend.bcm_field_qualify_L4SrcPort(u, e, call.a, call.b);
      case Op::l4DstPort:
         return backend.bcm_field_qualify_L4DstPort(u, e, call.a, call.b);
      case Op::l3Ingress:
         return backend.bcm_field_qualify_L3Ingress(u, e, call.a, call.b);
      case Op::ipProtocol:
         return backend.bcm_field_qualify_IpProtocol(u, e, static_cast<U8>(call.a),
                                                     static_cast<U8>(call.b));
      case Op::ipFrag:
         return backend.bcm_field_qualify_IpFrag(u, e, static_cast<S32>(call.a));
      case Op::tcpControl:
         return backend.bcm_field_qualify_TcpControl(u, e, static_cast<U8>(call.a),
                                                     static_cast<U8>(call.b));
      case Op::actionRemoveAll:
         return backend.bcm_field_action_remove_all(u, e);
      case Op::actionAdd:
         return backend.bcm_field_action_add(u, e, static_cast<S32>(call.a), call.b, call.c);
      case Op::createAt:
         return backend.bcm_field_entry_create_at(u, static_cast<S32>(call.a), e, call.b);
      case Op::destroy:
         return backend.bcm_field_entry_destroy(u, e);
      case Op::install:
         return backend.bcm_field_entry_install(u, e);
      case Op::reinstall:
         return backend.bcm_field_entry_reinstall(u, e);
      case Op::create:
         return backend.bcm_field_entry_create(u, static_cast<S32>(call.a), e);
   }
   return 0;
}

}  // namespace

void unitBuild(Shim::SdkBackend& chip, S32 unit) {
   U32 count = 0;
   chip.bcm_field_entry_multi_get(unit, 1, {}, &count);
}

void SdkRecorder::doReplay(Shim::SdkBackend& backend) const {
   for (const Call& call : calls_) make<Call, Op>(backend, call);
}

void SdkRecorder::doReplayThroughCalls(Shim::SdkBackend& backend) const {
   const Shim::ScopedBackend installed(backend);
   for (const Call& call : calls_) {
      Shim::sdkCall(SHIM_CALL_SITE_(make(Shim::sdk_, call)), Shim::CallKind::write,
                    [&] { return make<Call, Op>(Shim::sdk_, call); });
   }
}

// Neither the chip nor the record is the agent's heap.
S32 SdkRecorder::recorded(const Call& call) {
   const HeapCountPause notTheAgents;
   calls_.push_back(call);
   return make<Call, Op>(target_, call);
}

S32 SdkRecorder::bcm_field_qualify_SrcIp(S32 unit, U32 entry, U32 data, U32 mask) {
   return recorded({Op::srcIp, unit, entry, data, mask});
}
S32 SdkRecorder::bcm_field_qualify_DstIp(S32 unit, U32 entry, U32 data, U32 mask) {
   return recorded({Op::dstIp, unit, entry, data, mask});
}
S32 SdkRecorder::bcm_field_qualify_L4SrcPort(S32 unit, U32 entry, U32 data, U32 mask) {
   return recorded({Op::l4SrcPort, unit, entry, data, mask});
}
S32 SdkRecorder::bcm_field_qualify_L4DstPort(S32 unit, U32 entry, U32 data, U32 mask) {
   return recorded({Op::l4DstPort, unit, entry, data, mask});
}
S32 SdkRecorder::bcm_field_qualify_L3Ingress(S32 unit, U32 entry, U32 data, U32 mask) {
   return recorded({Op::l3Ingress, unit, entry, data, mask});
}
S32 SdkRecorder::bcm_field_qualify_IpProtocol(S32 unit, U32 entry, U8 data, U8 mask) {
   return recorded({Op::ipProtocol, unit, entry, data, mask});
}
S32 SdkRecorder::bcm_field_qualify_IpFrag(S32 unit, U32 entry, S32 fragState) {
   return recorded({Op::ipFrag, unit, entry, static_cast<U32>(fragState)});
}
S32 SdkRecorder::bcm_field_qualify_TcpControl(S32 unit, U32 entry, U8 data, U8 mask) {
   return recorded({Op::tcpControl, unit, entry, data, mask});
}
S32 SdkRecorder::bcm_field_action_remove_all(S32 unit, U32 entry) {
   return recorded({Op::actionRemoveAll, unit, entry});
}
S32 SdkRecorder::bcm_field_action_add(S32 unit, U32 entry, S32 action, U32 param0, U32 param1) {
   return recorded({Op::actionAdd, unit, entry, static_cast<U32>(action), param0, param1});
}
S32 SdkRecorder::bcm_field_entry_create_at(S32 unit, S32 group, U32 entry, U32 slot) {
   return recorded({Op::createAt, unit, entry, static_cast<U32>(group), slot});
}
S32 SdkRecorder::bcm_field_entry_destroy(S32 unit, U32 entry) {
   return recorded({Op::destroy, unit, entry});
}
S32 SdkRecorder::bcm_field_entry_install(S32 unit, U32 entry) {
   return recorded({Op::install, unit, entry});
}
S32 SdkRecorder::bcm_field_entry_reinstall(S32 unit, U32 entry) {
   return recorded({Op::reinstall, unit, entry});
}
S32 SdkRecorder::bcm_field_entry_create(S32 unit, S32 group, U32 entry) {
   return recorded({Op::create, unit, entry, static_cast<U32>(group)});
}

// Reads, warm boot and register access are passed on without being recorded: committing
// rules makes none of them but the port-translation switch, which is not per rule.
S32 SdkRecorder::bcm_field_qualify_SrcIp_get(S32 unit, U32 entry, U32* data, U32* mask) {
   return target_.bcm_field_qualify_SrcIp_get(unit, entry, data, mask);
}
S32 SdkRecorder::bcm_field_qualify_DstIp_get(S32 unit, U32 entry, U32* data, U32* mask) {
   return target_.bcm_field_qualify_DstIp_get(unit, entry, data, mask);
}
S32 SdkRecorder::bcm_field_qualify_L4SrcPort_get(S32 unit, U32 entry, U32* data, U32* mask) {
   return target_.bcm_field_qualify_L4SrcPort_get(unit, entry, data, mask);
}
S32 SdkRecorder::bcm_field_qualify_L4DstPort_get(S32 unit, U32 entry, U32* data, U32* mask) {
   return target_.bcm_field_qualify_L4DstPort_get(unit, entry, data, mask);
}
S32 SdkRecorder::bcm_field_qualify_L3Ingress_get(S32 unit, U32 entry, U32* data, U32* mask) {
   return target_.bcm_field_qualify_L3Ingress_get(unit, entry, data, mask);
}
S32 SdkRecorder::bcm_field_qualify_IpProtocol_get(S32 unit, U32 entry, U8* data, U8* mask) {
   return target_.bcm_field_qualify_IpProtocol_get(unit, entry, data, mask);
}
S32 SdkRecorder::bcm_field_entry_multi_get(S32 unit, S32 group, std::span<U32> entries,
                                           U32* count) {
   return target_.bcm_field_entry_multi_get(unit, group, entries, count);
}
S32 SdkRecorder::bcm_field_entry_prio_set(S32 unit, U32 entry, S32 priority) {
   return target_.bcm_field_entry_prio_set(unit, entry, priority);
}
S32 SdkRecorder::bcm_field_group_flash(S32 unit, S32 group, U32 firstSlot,
                                       std::span<U32> entries) {
   return target_.bcm_field_group_flash(unit, group, firstSlot, entries);
}
S32 SdkRecorder::soc_reg32_get(S32 unit, S32 reg, S32 port, S32 index, U32* value) {
   return target_.soc_reg32_get(unit, reg, port, index, value);
}
S32 SdkRecorder::soc_reg32_set(S32 unit, S32 reg, S32 port, S32 index, U32 value) {
   return target_.soc_reg32_set(unit, reg, port, index, value);
}
void SdkRecorder::soc_reg_field32_set(S32 unit, S32 reg, U32* value, S32 field, U32 fieldValue) {
   target_.soc_reg_field32_set(unit, reg, value, field, fieldValue);
}
S32 SdkRecorder::soc_mem_read(S32 unit, S32 mem, S32 block, S32 index, std::span<U32> entry) {
   return target_.soc_mem_read(unit, mem, block, index, entry);
}
S32 SdkRecorder::soc_mem_write(S32 unit, S32 mem, S32 block, S32 index,
                               std::span<const U32> entry) {
   return target_.soc_mem_write(unit, mem, block, index, entry);
}
void SdkRecorder::soc_mem_field32_set(S32 unit, S32 mem, std::span<U32> entry, S32 field,
                                      U32 fieldValue) {
   target_.soc_mem_field32_set(unit, mem, entry, field, fieldValue);
}

}  // namespace Bench

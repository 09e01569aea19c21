#include "platform/switch/sdk/sdk.h"

#include "platform/framework/kiv/activity_lock.h"
#include "platform/framework/kiv/assert.h"
#include "platform/framework/kiv/event_loop.h"

namespace Shim {

Sdk sdk_;

namespace {

// Other framework activity taking the lock that the caller gave up for its SDK call.
void runQueuedWork() {
   KIV_ASSERT( !Kiv::activityLock().isHeldByThisThread() );
   const Kiv::ActivityGuard otherActivity(Kiv::activityLock());
   Kiv::eventLoop().doRunUntilIdle();
}

}  // namespace

template <class... Params, class... Args>
S32 Sdk::forward(Operation operation, S32 (SdkBackend::*method)(Params...), Args... args) {
   if (faults_.runsWorkDuring(operation)) runQueuedWork();
   const std::optional<S32> injected = faults_.injectedResult(operation);
   const S32 rc = injected ? *injected : (installedBackend().*method)(args...);
   faults_.doAfterCall();
   return rc;
}

SdkBackend& Sdk::installedBackend() const {
   KIV_ASSERT( backend_ );
   return *backend_;
}

S32 Sdk::bcm_field_qualify_SrcIp(S32 unit, U32 entry, U32 data, U32 mask) {
   return forward(Operation::qualifySrcIp, &SdkBackend::bcm_field_qualify_SrcIp, unit, entry, data,
                  mask);
}

S32 Sdk::bcm_field_qualify_DstIp(S32 unit, U32 entry, U32 data, U32 mask) {
   return forward(Operation::qualifyDstIp, &SdkBackend::bcm_field_qualify_DstIp, unit, entry, data,
                  mask);
}

S32 Sdk::bcm_field_qualify_L4SrcPort(S32 unit, U32 entry, U32 data, U32 mask) {
   return forward(Operation::qualifyL4SrcPort, &SdkBackend::bcm_field_qualify_L4SrcPort, unit,
                  entry, data, mask);
}

S32 Sdk::bcm_field_qualify_L4DstPort(S32 unit, U32 entry, U32 data, U32 mask) {
   return forward(Operation::qualifyL4DstPort, &SdkBackend::bcm_field_qualify_L4DstPort, unit,
                  entry, data, mask);
}

S32 Sdk::bcm_field_qualify_L3Ingress(S32 unit, U32 entry, U32 data, U32 mask) {
   return forward(Operation::qualifyL3Ingress, &SdkBackend::bcm_field_qualify_L3Ingress, unit,
                  entry, data, mask);
}

S32 Sdk::bcm_field_qualify_IpProtocol(S32 unit, U32 entry, U8 data, U8 mask) {
   return forward(Operation::qualifyIpProtocol, &SdkBackend::bcm_field_qualify_IpProtocol, unit,
                  entry, data, mask);
}

S32 Sdk::bcm_field_qualify_IpFrag(S32 unit, U32 entry, S32 fragState) {
   return forward(Operation::qualifyIpFrag, &SdkBackend::bcm_field_qualify_IpFrag, unit, entry,
                  fragState);
}

S32 Sdk::bcm_field_qualify_TcpControl(S32 unit, U32 entry, U8 data, U8 mask) {
   return forward(Operation::qualifyTcpControl, &SdkBackend::bcm_field_qualify_TcpControl, unit,
                  entry, data, mask);
}

S32 Sdk::bcm_field_action_remove_all(S32 unit, U32 entry) {
   return forward(Operation::actionRemoveAll, &SdkBackend::bcm_field_action_remove_all, unit,
                  entry);
}

S32 Sdk::bcm_field_action_add(S32 unit, U32 entry, S32 action, U32 param0, U32 param1) {
   return forward(Operation::actionAdd, &SdkBackend::bcm_field_action_add, unit, entry, action,
                  param0, param1);
}

S32 Sdk::bcm_field_qualify_SrcIp_get(S32 unit, U32 entry, U32* data, U32* mask) {
   return forward(Operation::qualifySrcIpGet, &SdkBackend::bcm_field_qualify_SrcIp_get, unit, entry,
                  data, mask);
}

S32 Sdk::bcm_field_qualify_DstIp_get(S32 unit, U32 entry, U32* data, U32* mask) {
   return forward(Operation::qualifyDstIpGet, &SdkBackend::bcm_field_qualify_DstIp_get, unit, entry,
                  data, mask);
}

S32 Sdk::bcm_field_qualify_L4SrcPort_get(S32 unit, U32 entry, U32* data, U32* mask) {
   return forward(Operation::qualifyL4SrcPortGet, &SdkBackend::bcm_field_qualify_L4SrcPort_get,
                  unit, entry, data, mask);
}

S32 Sdk::bcm_field_qualify_L4DstPort_get(S32 unit, U32 entry, U32* data, U32* mask) {
   return forward(Operation::qualifyL4DstPortGet, &SdkBackend::bcm_field_qualify_L4DstPort_get,
                  unit, entry, data, mask);
}

S32 Sdk::bcm_field_qualify_L3Ingress_get(S32 unit, U32 entry, U32* data, U32* mask) {
   return forward(Operation::qualifyL3IngressGet, &SdkBackend::bcm_field_qualify_L3Ingress_get,
                  unit, entry, data, mask);
}

S32 Sdk::bcm_field_qualify_IpProtocol_get(S32 unit, U32 entry, U8* data, U8* mask) {
   return forward(Operation::qualifyIpProtocolGet, &SdkBackend::bcm_field_qualify_IpProtocol_get,
                  unit, entry, data, mask);
}

S32 Sdk::bcm_field_entry_create_at(S32 unit, S32 group, U32 entry, U32 slot) {
   return forward(Operation::entryCreate, &SdkBackend::bcm_field_entry_create_at, unit, group,
                  entry, slot);
}

S32 Sdk::bcm_field_entry_create(S32 unit, S32 group, U32 entry) {
   return forward(Operation::entryCreateStaged, &SdkBackend::bcm_field_entry_create, unit, group,
                  entry);
}

S32 Sdk::bcm_field_entry_prio_set(S32 unit, U32 entry, S32 priority) {
   return forward(Operation::entryPrioSet, &SdkBackend::bcm_field_entry_prio_set, unit, entry,
                  priority);
}

S32 Sdk::bcm_field_entry_multi_get(S32 unit, S32 group, std::span<U32> entries, U32* count) {
   return forward(Operation::entryMultiGet, &SdkBackend::bcm_field_entry_multi_get, unit, group,
                  entries, count);
}

S32 Sdk::bcm_field_group_flash(S32 unit, S32 group, U32 firstSlot, std::span<U32> entries) {
   return forward(Operation::groupFlash, &SdkBackend::bcm_field_group_flash, unit, group, firstSlot,
                  entries);
}

S32 Sdk::bcm_field_entry_destroy(S32 unit, U32 entry) {
   return forward(Operation::entryDestroy, &SdkBackend::bcm_field_entry_destroy, unit, entry);
}

S32 Sdk::bcm_field_entry_install(S32 unit, U32 entry) {
   return forward(Operation::entryInstall, &SdkBackend::bcm_field_entry_install, unit, entry);
}

S32 Sdk::bcm_field_entry_reinstall(S32 unit, U32 entry) {
   return forward(Operation::entryReinstall, &SdkBackend::bcm_field_entry_reinstall, unit, entry);
}

S32 Sdk::soc_reg32_get(S32 unit, S32 reg, S32 port, S32 index, U32* value) {
   return forward(Operation::regGet, &SdkBackend::soc_reg32_get, unit, reg, port, index, value);
}

S32 Sdk::soc_reg32_set(S32 unit, S32 reg, S32 port, S32 index, U32 value) {
   return forward(Operation::regSet, &SdkBackend::soc_reg32_set, unit, reg, port, index, value);
}

void Sdk::soc_reg_field32_set(S32 unit, S32 reg, U32* value, S32 field, U32 fieldValue) {
   installedBackend().soc_reg_field32_set(unit, reg, value, field, fieldValue);
}

S32 Sdk::soc_mem_read(S32 unit, S32 mem, S32 block, S32 index, std::span<U32> entry) {
   return forward(Operation::memRead, &SdkBackend::soc_mem_read, unit, mem, block, index, entry);
}

S32 Sdk::soc_mem_write(S32 unit, S32 mem, S32 block, S32 index, std::span<const U32> entry) {
   return forward(Operation::memWrite, &SdkBackend::soc_mem_write, unit, mem, block, index, entry);
}

void Sdk::soc_mem_field32_set(S32 unit, S32 mem, std::span<U32> entry, S32 field, U32 fieldValue) {
   installedBackend().soc_mem_field32_set(unit, mem, entry, field, fieldValue);
}

}  // namespace Shim

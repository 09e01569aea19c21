#pragma once

#include <vector>

#include "platform/switch/sdk/sdk_backend.h"

namespace Bench {

// Passes every SDK call on to another backend and records the ones that program field
// entries, with their arguments, so that exactly the same calls can be replayed later
// without the plug-in.
class SdkRecorder : public Shim::SdkBackend {
public:
   explicit SdkRecorder(Shim::SdkBackend& target) : target_(target) {}

   std::size_t calls() const { return calls_.size(); }
   // Makes the recorded calls, in order, on `backend`.
   void doReplay(Shim::SdkBackend& backend) const;
   // The same, each call made as the plug-in makes its own: through the SDK with the
   // activity lock given up for the call, its result judged and traced. The caller holds the
   // activity lock.
   void doReplayThroughCalls(Shim::SdkBackend& backend) const;

   S32 bcm_field_qualify_SrcIp(S32 unit, U32 entry, U32 data, U32 mask) override;
   S32 bcm_field_qualify_DstIp(S32 unit, U32 entry, U32 data, U32 mask) override;
   S32 bcm_field_qualify_L4SrcPort(S32 unit, U32 entry, U32 data, U32 mask) override;
   S32 bcm_field_qualify_L4DstPort(S32 unit, U32 entry, U32 data, U32 mask) override;
   S32 bcm_field_qualify_L3Ingress(S32 unit, U32 entry, U32 data, U32 mask) override;
   S32 bcm_field_qualify_IpProtocol(S32 unit, U32 entry, U8 data, U8 mask) override;
   S32 bcm_field_qualify_IpFrag(S32 unit, U32 entry, S32 fragState) override;
   S32 bcm_field_qualify_TcpControl(S32 unit, U32 entry, U8 data, U8 mask) override;
   S32 bcm_field_action_remove_all(S32 unit, U32 entry) override;
   S32 bcm_field_action_add(S32 unit, U32 entry, S32 action, U32 param0, U32 param1) override;
   S32 bcm_field_qualify_SrcIp_get(S32 unit, U32 entry, U32* data, U32* mask) override;
   S32 bcm_field_qualify_DstIp_get(S32 unit, U32 entry, U32* data, U32* mask) override;
   S32 bcm_field_qualify_L4SrcPort_get(S32 unit, U32 entry, U32* data, U32* mask) override;
   S32 bcm_field_qualify_L4DstPort_get(S32 unit, U32 entry, U32* data, U32* mask) override;
   S32 bcm_field_qualify_L3Ingress_get(S32 unit, U32 entry, U32* data, U32* mask) override;
   S32 bcm_field_qualify_IpProtocol_get(S32 unit, U32 entry, U8* data, U8* mask) override;
   S32 bcm_field_entry_create_at(S32 unit, S32 group, U32 entry, U32 slot) override;
   S32 bcm_field_entry_destroy(S32 unit, U32 entry) override;
   S32 bcm_field_entry_install(S32 unit, U32 entry) override;
   S32 bcm_field_entry_reinstall(S32 unit, U32 entry) override;
   S32 bcm_field_entry_create(S32 unit, S32 group, U32 entry) override;
   S32 bcm_field_entry_prio_set(S32 unit, U32 entry, S32 priority) override;
   S32 bcm_field_entry_multi_get(S32 unit, S32 group, std::span<U32> entries, U32* count) override;
   S32 bcm_field_group_flash(S32 unit, S32 group, U32 firstSlot,
                             std::span<U32> entries) override;
   S32 soc_reg32_get(S32 unit, S32 reg, S32 port, S32 index, U32* value) override;
   S32 soc_reg32_set(S32 unit, S32 reg, S32 port, S32 index, U32 value) override;
   void soc_reg_field32_set(S32 unit, S32 reg, U32* value, S32 field, U32 fieldValue) override;
   S32 soc_mem_read(S32 unit, S32 mem, S32 block, S32 index, std::span<U32> entry) override;
   S32 soc_mem_write(S32 unit, S32 mem, S32 block, S32 index, std::span<const U32> entry) override;
   void soc_mem_field32_set(S32 unit, S32 mem, std::span<U32> entry, S32 field,
                            U32 fieldValue) override;

private:
   enum class Op : U8 {
      srcIp,
      dstIp,
      l4SrcPort,
      l4DstPort,
      l3Ingress,
      ipProtocol,
      ipFrag,
      tcpControl,
      actionRemoveAll,
      actionAdd,
      createAt,
      destroy,
      install,
      reinstall,
      create,
   };
   struct Call {
      Op op;
      S32 unit;
      U32 entry;
      U32 a = 0;
      U32 b = 0;
      U32 c = 0;
   };

   S32 recorded(const Call& call);

   Shim::SdkBackend& target_;
   std::vector<Call> calls_;
};

// Builds the chip's `unit` with a read, as an agent's start does before its first commit, so
// that a replay onto it is timed without it.
void unitBuild(Shim::SdkBackend& chip, S32 unit);

}  // namespace Bench

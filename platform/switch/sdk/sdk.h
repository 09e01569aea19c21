#pragma once

#include <span>
#include <utility>

#include "platform/framework/kiv/types.h"
#include "platform/switch/sdk/fault_injector.h"
#include "platform/switch/sdk/return_code.h"
#include "platform/switch/sdk/sdk_backend.h"
#include "platform/switch/sdk/sdk_constants.h"

namespace Shim {

// The agent's one door to the chip SDK: every SDK operation and every SDK constant the agent
// uses. Operations are forwarded to the installed backend unless the fault injector answers
// instead. Callers make the code-returning operations through SDK_CALL or SDK_READ
// (platform/switch/sdk/sdk_call.h); field setters and constant accessors are called directly.
//
// Calling an operation with no backend installed is a fatal assertion.
class Sdk {
public:
   // Installs `backend` (not owned, may be null to uninstall) and returns the previous one. The
   // backend must outlive its installation.
   SdkBackend* backendIs(SdkBackend* backend) { return std::exchange(backend_, backend); }
   SdkBackend* backend() const { return backend_; }
   FaultInjector& faultInjector() { return faults_; }

   S32 bcm_field_qualify_SrcIp(S32 unit, U32 entry, U32 data, U32 mask);
   S32 bcm_field_qualify_DstIp(S32 unit, U32 entry, U32 data, U32 mask);
   S32 bcm_field_qualify_L4SrcPort(S32 unit, U32 entry, U32 data, U32 mask);
   S32 bcm_field_qualify_L4DstPort(S32 unit, U32 entry, U32 data, U32 mask);
   S32 bcm_field_qualify_L3Ingress(S32 unit, U32 entry, U32 data, U32 mask);
   S32 bcm_field_qualify_IpProtocol(S32 unit, U32 entry, U8 data, U8 mask);
   S32 bcm_field_qualify_IpFrag(S32 unit, U32 entry, S32 fragState);
   S32 bcm_field_qualify_TcpControl(S32 unit, U32 entry, U8 data, U8 mask);
   S32 bcm_field_action_remove_all(S32 unit, U32 entry);
   S32 bcm_field_action_add(S32 unit, U32 entry, S32 action, U32 param0, U32 param1);

   S32 bcm_field_qualify_SrcIp_get(S32 unit, U32 entry, U32* data, U32* mask);
   S32 bcm_field_qualify_DstIp_get(S32 unit, U32 entry, U32* data, U32* mask);
   S32 bcm_field_qualify_L4SrcPort_get(S32 unit, U32 entry, U32* data, U32* mask);
   S32 bcm_field_qualify_L4DstPort_get(S32 unit, U32 entry, U32* data, U32* mask);
   S32 bcm_field_qualify_L3Ingress_get(S32 unit, U32 entry, U32* data, U32* mask);
   S32 bcm_field_qualify_IpProtocol_get(S32 unit, U32 entry, U8* data, U8* mask);

   S32 bcm_field_entry_create_at(S32 unit, S32 group, U32 entry, U32 slot);
   S32 bcm_field_entry_create(S32 unit, S32 group, U32 entry);
   S32 bcm_field_entry_prio_set(S32 unit, U32 entry, S32 priority);
   S32 bcm_field_entry_multi_get(S32 unit, S32 group, std::span<U32> entries, U32* count);
   S32 bcm_field_group_flash(S32 unit, S32 group, U32 firstSlot, std::span<U32> entries);
   S32 bcm_field_entry_destroy(S32 unit, U32 entry);
   S32 bcm_field_entry_install(S32 unit, U32 entry);
   S32 bcm_field_entry_reinstall(S32 unit, U32 entry);

   S32 soc_reg32_get(S32 unit, S32 reg, S32 port, S32 index, U32* value);
   S32 soc_reg32_set(S32 unit, S32 reg, S32 port, S32 index, U32 value);
   void soc_reg_field32_set(S32 unit, S32 reg, U32* value, S32 field, U32 fieldValue);
   S32 soc_mem_read(S32 unit, S32 mem, S32 block, S32 index, std::span<U32> entry);
   S32 soc_mem_write(S32 unit, S32 mem, S32 block, S32 index, std::span<const U32> entry);
   void soc_mem_field32_set(S32 unit, S32 mem, std::span<U32> entry, S32 field, U32 fieldValue);

   // The text of a return code, for failure messages.
   const char* bcm_errmsg(S32 rc) const { return errorText(rc); }

   // Constants, named as the SDK names them.
   S32 BCM_E_NONE() const { return successCode; }
   S32 bcmFieldIpFragAny() const { return value(FieldIpFrag::anyFragment); }
   S32 bcmFieldActionAssignExtractionCtrlId() const {
      return value(FieldAction::assignExtractionCtrlId);
   }
   S32 bcmFieldActionAssignOpaqueObject1() const { return value(FieldAction::assignOpaqueObject1); }
   S32 bcmFieldActionCopyToCpuCancel() const { return value(FieldAction::copyToCpuCancel); }
   S32 bcmFieldActionDrop() const { return value(FieldAction::drop); }
   S32 bcmFieldActionDropCancel() const { return value(FieldAction::dropCancel); }
   S32 bcmFieldActionL3Switch() const { return value(FieldAction::l3Switch); }
   S32 REG_PORT_ANY() const { return regPortAny; }
   S32 MEM_BLOCK_ANY() const { return memBlockAny; }
   S32 MEM_BLOCK_ALL() const { return memBlockAll; }
   U32 SOC_MAX_MEM_WORDS() const { return maxMemoryEntryWords; }
   S32 L4_XLATE_CTRLr() const { return value(SocReg::l4XlateCtrl); }
   S32 TCP_PORT_MODEf() const { return value(SocField::tcpPortMode); }
   S32 UDP_PORT_MODEf() const { return value(SocField::udpPortMode); }
   S32 ICMP_ID_MODEf() const { return value(SocField::icmpIdMode); }
   S32 TCP_CSUM_UPDATEf() const { return value(SocField::tcpChecksumUpdate); }
   S32 UDP_CSUM_UPDATEf() const { return value(SocField::udpChecksumUpdate); }
   S32 IP_CSUM_UPDATEf() const { return value(SocField::ipChecksumUpdate); }
   S32 FRAG_MODEf() const { return value(SocField::fragmentMode); }
   S32 PORT_SELECTf() const { return value(SocField::portSelect); }
   S32 L4_XLATE_ENABLEf() const { return value(SocField::l4XlateEnable); }
   S32 L4_XLATE_PROFILEm() const { return value(SocMem::l4XlateProfile); }
   S32 XLATE_MODEf() const { return value(SocField::xlateMode); }

private:
   template <class Enum>
   static constexpr S32 value(Enum constant) {
      return static_cast<S32>(constant);
   }

   // Answers from the fault injector, or makes the call on the backend.
   template <class... Params, class... Args>
   S32 forward(Operation operation, S32 (SdkBackend::*method)(Params...), Args... args);

   SdkBackend& installedBackend() const;

   SdkBackend* backend_ = nullptr;
   FaultInjector faults_;
};

// The process-wide shim.
extern Sdk sdk_;

// Installs a backend for the life of the scope (tests and programs) and puts the previous one
// back afterwards. Does not own the backend.
class ScopedBackend {
public:
   explicit ScopedBackend(SdkBackend& backend) : previous_(sdk_.backendIs(&backend)) {}
   ~ScopedBackend() { sdk_.backendIs(previous_); }
   ScopedBackend(const ScopedBackend&) = delete;
   ScopedBackend& operator=(const ScopedBackend&) = delete;

private:
   SdkBackend* previous_;
};

}  // namespace Shim

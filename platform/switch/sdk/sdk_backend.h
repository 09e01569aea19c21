#pragma once

#include <span>

#include "platform/framework/kiv/types.h"

namespace Shim {

// What executes SDK calls: a real chip's SDK, or a simulated chip. The shim forwards every
// operation here unchanged, after its own fault injection; the SDK's constants and error texts
// stay with the shim. Every operation takes the unit first and, where it returns a code, returns
// Shim::successCode or a negative SdkError code. Callers hold no lock of the backend's; a backend
// may be called from any thread and serialises itself.
class SdkBackend {
public:
   virtual ~SdkBackend() = default;

   // Field entry qualifiers. Masks are all ones when given as -1; the chip keeps data and mask at
   // the width its TCAM stores them.
   virtual S32 bcm_field_qualify_SrcIp(S32 unit, U32 entry, U32 data, U32 mask) = 0;
   virtual S32 bcm_field_qualify_DstIp(S32 unit, U32 entry, U32 data, U32 mask) = 0;
   virtual S32 bcm_field_qualify_L4SrcPort(S32 unit, U32 entry, U32 data, U32 mask) = 0;
   virtual S32 bcm_field_qualify_L4DstPort(S32 unit, U32 entry, U32 data, U32 mask) = 0;
   virtual S32 bcm_field_qualify_L3Ingress(S32 unit, U32 entry, U32 data, U32 mask) = 0;
   virtual S32 bcm_field_qualify_IpProtocol(S32 unit, U32 entry, U8 data, U8 mask) = 0;
   virtual S32 bcm_field_qualify_IpFrag(S32 unit, U32 entry, S32 fragState) = 0;
   virtual S32 bcm_field_qualify_TcpControl(S32 unit, U32 entry, U8 data, U8 mask) = 0;

   // Field entry actions: each action at most once per entry, with two parameters.
   virtual S32 bcm_field_action_remove_all(S32 unit, U32 entry) = 0;
   virtual S32 bcm_field_action_add(S32 unit, U32 entry, S32 action, U32 param0, U32 param1) = 0;

   // Qualifier reads: the data and mask as stored, written through the out pointers only on
   // success; a not-found code when the entry or the qualifier is absent.
   virtual S32 bcm_field_qualify_SrcIp_get(S32 unit, U32 entry, U32* data, U32* mask) = 0;
   virtual S32 bcm_field_qualify_DstIp_get(S32 unit, U32 entry, U32* data, U32* mask) = 0;
   virtual S32 bcm_field_qualify_L4SrcPort_get(S32 unit, U32 entry, U32* data, U32* mask) = 0;
   virtual S32 bcm_field_qualify_L4DstPort_get(S32 unit, U32 entry, U32* data, U32* mask) = 0;
   virtual S32 bcm_field_qualify_L3Ingress_get(S32 unit, U32 entry, U32* data, U32* mask) = 0;
   virtual S32 bcm_field_qualify_IpProtocol_get(S32 unit, U32 entry, U8* data, U8* mask) = 0;

   // Field entry life cycle, for the TCAM managers. An entry is created in a group at the TCAM
   // slot its manager chose (lower slots win), matches nothing until installed, and after a
   // change matches with its installed content until reinstalled.
   virtual S32 bcm_field_entry_create_at(S32 unit, S32 group, U32 entry, U32 slot) = 0;
   virtual S32 bcm_field_entry_destroy(S32 unit, U32 entry) = 0;
   virtual S32 bcm_field_entry_install(S32 unit, U32 entry) = 0;
   virtual S32 bcm_field_entry_reinstall(S32 unit, U32 entry) = 0;
   // Of two installed entries that match a packet, the one of higher priority wins (0 unless
   // set); of equal priority, the one in the lower slot. A new priority takes effect when the
   // entry is installed again.
   virtual S32 bcm_field_entry_prio_set(S32 unit, U32 entry, S32 priority) = 0;

   // Warm boot of a group, for the TCAM managers. An entry created without a slot is staged:
   // it takes qualifiers and actions but matches nothing and cannot be installed. The group's
   // entries can be listed (up to `entries.size()` ids, `count` says how many there are). A
   // flash download replaces the group in one step: entries it does not list are destroyed,
   // the listed ones are placed from `firstSlot` on and installed as they are, and `entries`
   // then lists them in slot order. The flash keeps the order packets meet: by priority, and
   // among equal priorities an entry that replaces one of the same key (data and mask) takes
   // that entry's place in the order; entries of new keys follow, in the order listed.
   virtual S32 bcm_field_entry_create(S32 unit, S32 group, U32 entry) = 0;
   virtual S32 bcm_field_entry_multi_get(S32 unit, S32 group, std::span<U32> entries,
                                         U32* count) = 0;
   virtual S32 bcm_field_group_flash(S32 unit, S32 group, U32 firstSlot,
                                     std::span<U32> entries) = 0;

   // 32-bit registers and multi-word memories. The field setters change only the caller's copy;
   // an unknown register, memory or field there, or a value wider than the field, is fatal.
   virtual S32 soc_reg32_get(S32 unit, S32 reg, S32 port, S32 index, U32* value) = 0;
   virtual S32 soc_reg32_set(S32 unit, S32 reg, S32 port, S32 index, U32 value) = 0;
   virtual void soc_reg_field32_set(S32 unit, S32 reg, U32* value, S32 field, U32 fieldValue) = 0;
   virtual S32 soc_mem_read(S32 unit, S32 mem, S32 block, S32 index, std::span<U32> entry) = 0;
   virtual S32 soc_mem_write(S32 unit, S32 mem, S32 block, S32 index,
                             std::span<const U32> entry) = 0;
   virtual void soc_mem_field32_set(S32 unit, S32 mem, std::span<U32> entry, S32 field,
                                    U32 fieldValue) = 0;
};

}  // namespace Shim

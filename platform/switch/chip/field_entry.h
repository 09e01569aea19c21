#pragma once

#include <array>
#include <optional>

#include "platform/framework/kiv/types.h"
#include "platform/switch/chip/action_list.h"
#include "platform/switch/chip/tcam_key.h"
#include "platform/switch/chip/ternary_row.h"

namespace Chip {

enum class InstallState : U8 { notInstalled, installed, changedSinceInstall };

// A qualifier as hardware stores it.
struct QualifierValue {
   U32 data;
   U32 mask;

   bool operator==(const QualifierValue&) const = default;
};

// One field entry as the SDK sees it: its group and TCAM slot (none while it is staged during
// a warm start), the qualifiers, actions and priority last written to it, and whether the TCAM
// holds that content. Any write to an installed entry makes it changedSinceInstall; the TCAM keeps
// the installed content until the entry is installed again.
class FieldEntry {
public:
   // The slot of an entry that sits in no TCAM slot yet.
   static constexpr U32 noSlot = ~U32{0};

   FieldEntry(S32 group, U32 slot) : group_(group), slot_(slot) {}

   S32 group() const { return group_; }
   U32 slot() const { return slot_; }
   bool placed() const { return slot_ != noSlot; }
   void slotIs(U32 slot) { slot_ = slot; }
   InstallState installState() const { return installState_; }

   // Stores a qualifier (`field` below qualifierCount, fatal otherwise) at the field's hardware
   // width: mask bits above it are dropped, so an all-ones mask reads back as the field's all
   // ones. False, and nothing stored, when `data` is wider than the field.
   bool qualifierIs(KeyField field, U32 data, U32 mask);
   std::optional<QualifierValue> qualifier(KeyField field) const;

   // False, and nothing added, when the entry already has this action.
   bool actionIs(const FieldActionValue& action);
   void actionDelAll();
   const ActionList& actions() const { return actions_; }
   S32 priority() const { return priority_; }
   void priorityIs(S32 priority);

   void installedIs() { installState_ = InstallState::installed; }

   // The TCAM row for the current content. A port qualifier also requires an L4 header.
   TernaryRow row() const;

private:
   void changed();

   // Plain and compact: the chip keeps entries in shared memory and copies one whole on every
   // write. The qualifiers sit where the TCAM key has their fields, each at its hardware width.
   TcamKey qualifierData_;
   TcamKey qualifierMask_;
   S32 group_;
   U32 slot_;
   S32 priority_ = 0;
   InstallState installState_ = InstallState::notInstalled;
   U8 qualifiersPresent_ = 0;  // a bit per qualifier field
   ActionList actions_;
};

}  // namespace Chip

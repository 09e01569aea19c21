#include "platform/switch/chip/packet_outcome.h"

#include <array>

namespace Chip {
namespace {

using Shim::FieldAction;
using Shim::SocField;

// The translation profiles NAT entries select, in pairs of extraction-control ids: the even id
// of a pair rewrites the addresses of the profile's sides, the odd one their ports as well.
// Each pair's port translation is switched on in its own entry of the profile memory; entries
// 40 and 41, which the NAT programmer switches on too, belong to no profile an id up to the
// extraction-control mask 0x1f can select.
struct TranslationProfile {
   U32 addressOnlyId;  // the pair's even id
   U32 memoryIndex;
   bool source;
   bool destination;
};

constexpr std::array<TranslationProfile, 4> translationProfiles{{
    {16, 30, false, true},  // destination NAT
    {18, 31, true, true},   // twice NAT of a destination rule
    {20, 32, true, false},  // source NAT
    {22, 33, true, true},   // twice NAT of a source rule
}};

// The field values that switch port translation on, as the NAT programmer writes them; other
// values leave ports alone.
constexpr U32 translationEnabled = 1;
constexpr U32 portModeTranslate = 3;
constexpr U32 profileModeTranslate = 3;

constexpr U8 tcp = 6;
constexpr U8 udp = 17;

const TranslationProfile* profileOf(U32 extractionCtrlId) {
   for (const TranslationProfile& profile : translationProfiles) {
      if (extractionCtrlId >> 1 == profile.addressOnlyId >> 1) return &profile;
   }
   return nullptr;
}

bool portTranslationOn(const Packet& packet, const PortTranslation& translation, U32 memoryIndex) {
   if (packet.fragment == FragmentState::nonFirstFragment) return false;
   SocField portMode;
   if (packet.ipProtocol == tcp) {
      portMode = SocField::tcpPortMode;
   } else if (packet.ipProtocol == udp) {
      portMode = SocField::udpPortMode;
   } else {
      return false;
   }
   const U32 control = translation.control();
   return PortTranslation::controlField(control, SocField::l4XlateEnable) == translationEnabled &&
          PortTranslation::controlField(control, portMode) == portModeTranslate &&
          PortTranslation::xlateMode(translation.profile(packet.pipe, memoryIndex)) ==
              profileModeTranslate;
}

}  // namespace

PacketOutcome packetOutcome(const Packet& packet, const ActionList& actions,
                            const PortTranslation& translation) {
   const auto find = [&](FieldAction action) { return actions.find(static_cast<S32>(action)); };
   PacketOutcome outcome;
   if (const std::optional<FieldActionValue> uid = find(FieldAction::assignOpaqueObject1)) {
      outcome.uid = uid->param0;
   }
   if (find(FieldAction::drop)) {
      outcome.forwarding = Forwarding::drop;
   } else if (const std::optional<FieldActionValue> l3Switch = find(FieldAction::l3Switch)) {
      outcome.forwarding = Forwarding::l3Switch;
      outcome.egressObject = l3Switch->param0;
   }
   const std::optional<FieldActionValue> extraction = find(FieldAction::assignExtractionCtrlId);
   if (!extraction) return outcome;
   // The entry assigns the id's bits under its mask only; the others stay 0.
   const U32 extractionCtrlId = extraction->param0 & extraction->param1;
   const TranslationProfile* profile = profileOf(extractionCtrlId);
   if (!profile) return outcome;
   const bool ports = extractionCtrlId != profile->addressOnlyId &&
                      portTranslationOn(packet, translation, profile->memoryIndex);
   outcome.rewritten = {.srcIp = profile->source,
                        .dstIp = profile->destination,
                        .srcPort = ports && profile->source,
                        .dstPort = ports && profile->destination};
   return outcome;
}

}  // namespace Chip

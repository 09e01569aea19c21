#include "platform/switch/chip/tcam_key.h"

#include "platform/framework/kiv/assert.h"

namespace Chip {
namespace {

constexpr std::array<KeyFieldPosition, 10> layout{{
    {0, {0, 32}},   // srcIp
    {0, {32, 32}},  // dstIp
    {1, {0, 16}},   // l4SrcPort
    {1, {16, 16}},  // l4DstPort
    {1, {32, 13}},  // l3Ingress
    {1, {45, 8}},   // ipProtocol
    {1, {53, 2}},   // ipFrag
    {1, {55, 6}},   // tcpControl
    {1, {61, 1}},   // l4HeaderPresent
    {1, {62, 1}},   // entryValid
}};

constexpr bool layoutFitsWords() {
   for (const KeyFieldPosition& position : layout) {
      if (position.bits.shift + position.bits.width > 64) return false;
   }
   return true;
}
static_assert(layoutFitsWords(), "a key field must not straddle two words");

U64 fragmentBits(FragmentState fragment) {
   switch (fragment) {
      case FragmentState::notFragment:
         return 0;
      case FragmentState::firstFragment:
         return fragIsFragment;
      case FragmentState::nonFirstFragment:
         return fragIsFragment | fragIsNonFirst;
   }
   return 0;
}

}  // namespace

KeyFieldPosition keyFieldPosition(KeyField field) {
   return layout[static_cast<std::size_t>(field)];
}

U64 TcamKey::field(KeyField field) const {
   const KeyFieldPosition position = keyFieldPosition(field);
   return position.bits.extract(words[position.word]);
}

void TcamKey::fieldIs(KeyField field, U64 value) {
   const KeyFieldPosition position = keyFieldPosition(field);
   KIV_ASSERT( position.bits.fits(value) );
   words[position.word] = position.bits.inserted(words[position.word], value);
}

TcamKey keyOf(const Packet& packet) {
   TcamKey key;
   key.fieldIs(KeyField::srcIp, packet.srcIp);
   key.fieldIs(KeyField::dstIp, packet.dstIp);
   key.fieldIs(KeyField::l3Ingress,
               packet.l3Ingress & keyFieldPosition(KeyField::l3Ingress).bits.valueMask());
   key.fieldIs(KeyField::ipProtocol, packet.ipProtocol);
   key.fieldIs(KeyField::ipFrag, fragmentBits(packet.fragment));
   key.fieldIs(KeyField::entryValid, 1);
   if (packet.fragment != FragmentState::nonFirstFragment) {
      key.fieldIs(KeyField::l4SrcPort, packet.srcPort);
      key.fieldIs(KeyField::l4DstPort, packet.dstPort);
      key.fieldIs(KeyField::tcpControl,
                  packet.tcpFlags & keyFieldPosition(KeyField::tcpControl).bits.valueMask());
      key.fieldIs(KeyField::l4HeaderPresent, 1);
   }
   return key;
}

}  // namespace Chip

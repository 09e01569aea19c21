#include "simulator/switch/near_misses.h"

#include <algorithm>
#include <bit>

#include "platform/switch/sdk/sdk_constants.h"

namespace Simulator {
namespace {

using ::Chip::KeyField;

std::string ipText(U64 ip) {
   return std::to_string(ip >> 24 & 0xFF) + "." + std::to_string(ip >> 16 & 0xFF) + "." +
          std::to_string(ip >> 8 & 0xFF) + "." + std::to_string(ip & 0xFF);
}

std::string hexText(U64 value) {
   static constexpr char digits[] = "0123456789abcdef";
   std::string text;
   do {
      text.insert(text.begin(), digits[value & 0xF]);
      value >>= 4;
   } while (value != 0);
   return "0x" + text;
}

std::string flagsText(U64 flags, U64 mask, bool entry) {
   static constexpr std::pair<U64, const char*> names[] = {
       {0x01, "fin"}, {0x02, "syn"}, {0x04, "rst"}, {0x08, "psh"}, {0x10, "ack"}, {0x20, "urg"}};
   std::string text;
   for (const auto& [bit, name] : names) {
      if ((mask & bit) == 0) continue;
      if (!entry && (flags & bit) == 0) continue;
      if (!text.empty()) text += ',';
      text += entry && (flags & bit) == 0 ? std::string("no ") + name : name;
   }
   return text.empty() ? "none" : text;
}

// In a scenario's words: none, first, later.
std::string fragmentText(U64 bits, U64 mask) {
   const U64 fragment = ::Chip::fragIsFragment;
   const U64 later = ::Chip::fragIsNonFirst;
   if ((mask & fragment) != 0 && (bits & fragment) == 0) return "none";
   if ((mask & later) == 0) return "first,later";
   return (bits & later) != 0 ? "later" : "first";
}

struct FieldName {
   KeyField field;
   const char* name;
};
// The order an engineer checks a miss in.
constexpr FieldName checkOrder[] = {
    {KeyField::l3Ingress, "VLAN"},
    {KeyField::ipProtocol, "protocol"},
    {KeyField::srcIp, "source address"},
    {KeyField::dstIp, "destination address"},
    {KeyField::l4SrcPort, "source port"},
    {KeyField::l4DstPort, "destination port"},
    {KeyField::tcpControl, "TCP flags"},
    {KeyField::ipFrag, "fragment"},
    {KeyField::l4HeaderPresent, "L4 header"},
};

// A field's value in the packet, and what the entry takes there.
std::pair<std::string, std::string> valuesOf(KeyField field, U64 packet, U64 data, U64 mask) {
   switch (field) {
      case KeyField::srcIp:
      case KeyField::dstIp: {
         const int length = std::countl_one(static_cast<U32>(mask));
         const bool prefix = static_cast<U32>(mask << length) == 0;
         if (prefix && length == 32) return {ipText(packet), ipText(data)};
         if (prefix) return {ipText(packet), ipText(data) + "/" + std::to_string(length)};
         return {ipText(packet), ipText(data) + " mask " + ipText(mask)};
      }
      case KeyField::tcpControl:
         return {flagsText(packet, ~U64{0}, false), flagsText(data, mask, true)};
      case KeyField::ipFrag:
         return {fragmentText(packet, ~U64{0}), fragmentText(data, mask)};
      case KeyField::l4HeaderPresent:
         return {"none (a later fragment)", "one (it matches ports)"};
      default: {
         const bool whole = std::has_single_bit(mask + 1) && ((mask + 1) >> 16) <= 1;
         if (whole) return {std::to_string(packet), std::to_string(data)};
         return {std::to_string(packet), hexText(data) + " mask " + hexText(mask)};
      }
   }
}

}  // namespace

std::vector<NearMiss> nearMisses(::Chip::SimulatedChip& chip, uint16_t module, uint32_t natEntries,
                                 const ::Chip::Packet& packet, std::size_t most) {
   constexpr S32 uidTag = static_cast<S32>(Shim::FieldAction::assignOpaqueObject1);
   const ::Chip::TcamKey key = ::Chip::keyOf(packet);
   std::vector<NearMiss> misses;
   for (uint32_t id = 1; id <= 2 * natEntries; ++id) {
      const std::optional<::Chip::FieldEntry> entry = chip.entry(module, id);
      if (!entry || !entry->placed() ||
          entry->installState() == ::Chip::InstallState::notInstalled) {
         continue;
      }
      const ::Chip::TernaryRow row = entry->row();
      NearMiss miss;
      miss.entry = id;
      const std::optional<::Chip::FieldActionValue> uid = entry->actions().find(uidTag);
      miss.uid = uid ? uid->param0 : 0;
      for (const auto& [field, name] : checkOrder) {
         const U64 mask = row.mask.field(field);
         const U64 data = row.data.field(field);
         const U64 value = key.field(field);
         if (((value ^ data) & mask) == 0) continue;
         if (miss.fieldsMissed++ == 0) {
            miss.field = name;
            std::tie(miss.packetValue, miss.entryValue) = valuesOf(field, value, data, mask);
         }
      }
      if (miss.fieldsMissed != 0) misses.push_back(std::move(miss));
   }
   std::stable_sort(misses.begin(), misses.end(), [](const NearMiss& a, const NearMiss& b) {
      return a.fieldsMissed < b.fieldsMissed;
   });
   if (misses.size() > most) misses.resize(most);
   return misses;
}

std::string nearMissText(const NearMiss& miss) {
   return "entry " + std::to_string(miss.entry) + " uid " + std::to_string(miss.uid) + " misses " +
          std::to_string(miss.fieldsMissed) + (miss.fieldsMissed == 1 ? " field" : " fields") +
          ", first the " + miss.field + ": the packet has " + miss.packetValue +
          ", the entry takes " + miss.entryValue;
}

}  // namespace Simulator

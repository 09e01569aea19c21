#include "platform/records/ember/nat_hw_key.h"

#include <ostream>

#include "platform/framework/kiv/assert.h"
#include "platform/records/ferro/append_decimal.h"

namespace Ember {
namespace {

void appendPairIfSet(Kiv::String& out, const char* label, const Netbase::IpAndPort& pair) {
   if (!pair.isSet()) return;
   out += label;
   pair.appendText(out);
}

void appendField(Kiv::String& out, const char* label, const Netbase::IpAndPort& pair) {
   out += label;
   pair.appendText(out);
}

}  // namespace

NatHwKey::NatHwKey(NatKeyType type, Netbase::IpAndPort srcIpAndPortOld,
                   Netbase::IpAndPort srcIpAndPortNew, Netbase::IpAndPort dstIpAndPortOld,
                   Netbase::IpAndPort dstIpAndPortNew, NatAclId aclId, U8 dynProto, U32 faId)
    : type_(type),
      srcIpAndPortOld_(srcIpAndPortOld),
      srcIpAndPortNew_(srcIpAndPortNew),
      dstIpAndPortOld_(dstIpAndPortOld),
      dstIpAndPortNew_(dstIpAndPortNew),
      aclId_(aclId),
      dynProto_(dynProto),
      faId_(faId) {}

NatHwKey& NatHwKey::typeIs(NatKeyType type) {
   type_ = type;
   return *this;
}

NatHwKey& NatHwKey::srcIpAndPortOldIs(Netbase::IpAndPort value) {
   srcIpAndPortOld_ = value;
   return *this;
}

NatHwKey& NatHwKey::srcIpAndPortNewIs(Netbase::IpAndPort value) {
   srcIpAndPortNew_ = value;
   return *this;
}

NatHwKey& NatHwKey::dstIpAndPortOldIs(Netbase::IpAndPort value) {
   dstIpAndPortOld_ = value;
   return *this;
}

NatHwKey& NatHwKey::dstIpAndPortNewIs(Netbase::IpAndPort value) {
   dstIpAndPortNew_ = value;
   return *this;
}

NatHwKey& NatHwKey::aclIdIs(NatAclId aclId) {
   aclId_ = aclId;
   return *this;
}

NatHwKey& NatHwKey::dynProtoIs(U8 dynProto) {
   dynProto_ = dynProto;
   return *this;
}

NatHwKey& NatHwKey::faIdIs(U32 faId) {
   faId_ = faId;
   return *this;
}

bool NatHwKey::isStaticSrcNat() const {
   const Netbase::IpAndPort unset;
   const bool result = srcIpAndPortOld_ != unset && srcIpAndPortNew_ != unset &&
                       dstIpAndPortOld_ == unset && dstIpAndPortNew_ == unset && dynProto_ == 0;
   const bool compVal = type_ == NatKeyType::staticSrcNat;
   KIV_ASSERT( result == compVal && "NatHwKey is not valid" );
   return result;
}

bool NatHwKey::isStaticDestNat() const {
   const Netbase::IpAndPort unset;
   const bool result = srcIpAndPortOld_ == unset && srcIpAndPortNew_ == unset &&
                       dstIpAndPortOld_ != unset && dstIpAndPortNew_ != unset && dynProto_ == 0;
   const bool compVal = type_ == NatKeyType::staticDestNat;
   KIV_ASSERT( result == compVal && "NatHwKey is not valid" );
   return result;
}

bool NatHwKey::isStaticNapt() const {
   return (isStaticSrcNat() || isStaticDestNat()) &&
          (srcIpAndPortNew_.port() != 0 || dstIpAndPortNew_.port() != 0);
}

bool NatHwKey::isTwiceNapt() const {
   return (type_ == NatKeyType::twiceSrcNat || type_ == NatKeyType::twiceDestNat) &&
          (srcIpAndPortOld_.port() != 0 || dstIpAndPortOld_.port() != 0) &&
          (srcIpAndPortNew_.port() != 0 || dstIpAndPortNew_.port() != 0);
}

U32 NatHwKey::hash(U32 seed) const {
   // Fields are packed into six words and multiplied in pairs, 64 by 64 bits with both halves
   // of each product folded together; the three products are independent, so they run side
   // by side rather than one word after another. Each word is first offset by a constant of
   // its own, so that fields left zero still move the hash and equal fields in different
   // places do not cancel.
   const auto folded = [](U64 a, U64 b) {
      const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
      return static_cast<U64>(product) ^ static_cast<U64>(product >> 64);
   };
   const auto word = [](Netbase::IpAndPort pair) {
      return U64{pair.ip().value()} << 16 | pair.port();
   };
   const U64 head = U64{static_cast<U32>(type_)} << 40 | U64{dynProto_} << 32 | aclId_.value();
   const U64 src = folded(word(srcIpAndPortOld_) ^ 0xa0761d6478bd642full,
                          word(srcIpAndPortNew_) ^ 0xe7037ed1a0b428dbull);
   const U64 dst = folded(word(dstIpAndPortOld_) ^ 0x8ebc6af09c88c6e3ull,
                          word(dstIpAndPortNew_) ^ 0x589965cc75374cc3ull);
   const U64 rest =
       folded(head ^ 0x1d8e4e27c47d124full, (U64{seed} << 32 | faId_) ^ 0x9e3779b97f4a7c15ull);
   return static_cast<U32>(folded(src ^ rest ^ 0xd6e8feb86659fd93ull, dst ^ 0xa0761d6478bd642full));
}

Kiv::String NatHwKey::stringValue() const {
   Kiv::String out;
   // Room for the longest form: all four pairs set and every number at full width.
   out.reserve(208);
   out += "type: ";
   appendText(out, type_);
   appendPairIfSet(out, " old sip: ", srcIpAndPortOld_);
   appendPairIfSet(out, " new sip: ", srcIpAndPortNew_);
   appendPairIfSet(out, " old dip: ", dstIpAndPortOld_);
   appendPairIfSet(out, " new dip: ", dstIpAndPortNew_);
   out += " proto: ";
   Ferro::appendDecimal(out, dynProto_);
   out += " faId: ";
   Ferro::appendDecimal(out, faId_);
   out += " aclId: ";
   aclId_.appendText(out);
   return out;
}

Kiv::String NatHwKey::toString() const {
   Kiv::String out;
   out.reserve(256);
   out += "NatHwKey(type=";
   appendText(out, type_);
   appendField(out, ", srcIpAndPortOld=", srcIpAndPortOld_);
   appendField(out, ", srcIpAndPortNew=", srcIpAndPortNew_);
   appendField(out, ", dstIpAndPortOld=", dstIpAndPortOld_);
   appendField(out, ", dstIpAndPortNew=", dstIpAndPortNew_);
   out += ", aclId=";
   aclId_.appendText(out);
   out += ", dynProto=";
   Ferro::appendDecimal(out, dynProto_);
   out += ", faId=";
   Ferro::appendDecimal(out, faId_);
   out += ')';
   return out;
}

std::ostream& operator<<(std::ostream& out, const NatHwKey& key) { return out << key.toString(); }

}  // namespace Ember

#include "platform/records/ember/nat_hw_key.h"

#include <ostream>

#include "platform/framework/kiv/assert.h"
#include "platform/records/ferro/append_decimal.h"
#include "platform/records/ferro/hash_mix.h"

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
   Ferro::HashMix mix(seed);
   mix.add(static_cast<U32>(type_));
   for (const auto& pair :
        {srcIpAndPortOld_, srcIpAndPortNew_, dstIpAndPortOld_, dstIpAndPortNew_}) {
      mix.add(pair.ip().value()).add(U32{pair.port()});
   }
   mix.add(aclId_.value()).add(U32{dynProto_}).add(faId_);
   return mix.value();
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

#include "GostParams.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <algorithm>
#include <array>
#include <memory>

namespace kvcsp {
namespace {

constexpr std::array kFamilies = {
    KeyFamily{ALG_GOST_SIGN_2001, ALG_GOST_DH_2001, ALG_GOST_DH_2001_EPHEM, NID_id_GostR3410_2001,
              "1.2.643.2.2.19", "1.2.643.2.2.30.1", "1.2.643.2.2.35.1", 64},
    KeyFamily{ALG_GOST_SIGN_2012_256, ALG_GOST_DH_2012_256, ALG_GOST_DH_2012_256_EPHEM,
              NID_id_GostR3410_2012_256, "1.2.643.7.1.1.1.1", "1.2.643.7.1.1.2.2",
              "1.2.643.2.2.35.1", 64},
    KeyFamily{ALG_GOST_SIGN_2012_512, ALG_GOST_DH_2012_512, ALG_GOST_DH_2012_512_EPHEM,
              NID_id_GostR3410_2012_512, "1.2.643.7.1.1.1.2", "1.2.643.7.1.1.2.3",
              "1.2.643.7.1.2.1.2.1", 128},
};

// Curves of GOST R 34.10-2001 (RFC 4357 section 11.4); 256-bit keys of GOST R 34.10-2012 use
// them too, besides the TC26 curves (RFC 7836 appendix A, R 1323565.1.024-2019).
constexpr std::array<std::string_view, 6> kParamSets2001 = {"1.2.643.2.2.35.0", "1.2.643.2.2.35.1",
                                                            "1.2.643.2.2.35.2", "1.2.643.2.2.35.3",
                                                            "1.2.643.2.2.36.0", "1.2.643.2.2.36.1"};
constexpr std::array<std::string_view, 4> kParamSetsTc26_256 = {
    "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.2.1.1.2", "1.2.643.7.1.2.1.1.3", "1.2.643.7.1.2.1.1.4"};
constexpr std::array<std::string_view, 3> kParamSetsTc26_512 = {
    "1.2.643.7.1.2.1.2.1", "1.2.643.7.1.2.1.2.2", "1.2.643.7.1.2.1.2.3"};

bool Contains(std::span<const std::string_view> list, std::string_view oid)
{
    return std::find(list.begin(), list.end(), oid) != list.end();
}

struct AsnObjectFree {
    void operator()(ASN1_OBJECT *object) const { ASN1_OBJECT_free(object); }
};
using AsnObjectPtr = std::unique_ptr<ASN1_OBJECT, AsnObjectFree>;

// Reads one OID TLV at *cursor (advanced past it); false when there is none.
bool ReadOid(const BYTE **cursor, const BYTE *end, std::string *dotted)
{
    if (*cursor >= end || **cursor != V_ASN1_OBJECT) return false;
    AsnObjectPtr object(d2i_ASN1_OBJECT(nullptr, cursor, end - *cursor));
    if (!object) return false;
    std::array<char, 128> text{};
    const int length = OBJ_obj2txt(text.data(), text.size(), object.get(), 1);
    if (length <= 0 || static_cast<size_t>(length) >= text.size()) return false;
    dotted->assign(text.data(), length);
    return true;
}

} // namespace

const KeyFamily *FamilyByAlgId(ALG_ID algId)
{
    for (const KeyFamily &family : kFamilies)
        if (algId == family.signAlgId || algId == family.exchangeAlgId ||
            algId == family.ephemeralAlgId)
            return &family;
    return nullptr;
}

const KeyFamily *FamilyByNid(int nid)
{
    for (const KeyFamily &family : kFamilies)
        if (family.nid == nid) return &family;
    return nullptr;
}

bool IsFamilyParamSet(const KeyFamily &family, std::string_view oid)
{
    if (family.signAlgId == ALG_GOST_SIGN_2012_512) return Contains(kParamSetsTc26_512, oid);
    if (family.signAlgId == ALG_GOST_SIGN_2012_256 && Contains(kParamSetsTc26_256, oid))
        return true;
    return Contains(kParamSets2001, oid);
}

bool DecodeOidSequence(std::span<const BYTE> der, std::vector<std::string> *oids)
{
    const BYTE *cursor = der.data();
    long length = 0;
    int tag = 0, xclass = 0;
    const int flags =
        ASN1_get_object(&cursor, &length, &tag, &xclass, static_cast<long>(der.size()));
    if ((flags & 0x80) || !(flags & V_ASN1_CONSTRUCTED) || tag != V_ASN1_SEQUENCE ||
        xclass != V_ASN1_UNIVERSAL || cursor + length != der.data() + der.size())
        return false;
    const BYTE *end = cursor + length;
    oids->clear();
    for (std::string oid; ReadOid(&cursor, end, &oid);)
        oids->push_back(oid);
    return !oids->empty();
}

std::vector<BYTE> EncodeBlobParameters(std::string_view paramSetOid)
{
    const std::string text(paramSetOid);
    AsnObjectPtr object(OBJ_txt2obj(text.c_str(), 1));
    const int oidLength = object ? i2d_ASN1_OBJECT(object.get(), nullptr) : 0;
    if (oidLength <= 0 || oidLength > 127) return {};
    std::vector<BYTE> der(2 + static_cast<size_t>(oidLength));
    der[0] = 0x30; // SEQUENCE, short-form length
    der[1] = static_cast<BYTE>(oidLength);
    BYTE *cursor = der.data() + 2;
    i2d_ASN1_OBJECT(object.get(), &cursor);
    return der;
}

size_t DerTlvLength(std::span<const BYTE> der)
{
    const BYTE *cursor = der.data();
    long length = 0;
    int tag = 0, xclass = 0;
    const int flags =
        ASN1_get_object(&cursor, &length, &tag, &xclass, static_cast<long>(der.size()));
    if ((flags & 0x80) || (flags & 0x01)) return 0;
    return static_cast<size_t>(cursor - der.data()) + static_cast<size_t>(length);
}

} // namespace kvcsp

// Decoders of the primitive non-string types: BOOLEAN, INTEGER in its several forms,
// ENUMERATED, NULL and OBJECT IDENTIFIER.
#include "Internal.h"

#include <algorithm>
#include <limits>

using namespace asn1rt;

namespace {

// Two's-complement contents as a 64-bit number. Redundant leading sign octets are
// tolerated; what is left must fit 64 bits.
int ReadSigned(std::span<const ASN1OCTET> contents, int64_t *pvalue)
{
    if (contents.empty()) return ASN_E_INVLEN;
    contents = WithoutRedundantSignOctets(contents);
    if (contents.size() > sizeof(int64_t)) return ASN_E_INTOVFLW;
    uint64_t bits = (contents[0] & 0x80) ? ~uint64_t{0} : 0;
    for (const ASN1OCTET octet : contents)
        bits = (bits << 8) | octet;
    *pvalue = static_cast<int64_t>(bits);
    return ASN_OK;
}

int DecodeInRange(Asn1Context *pctxt, ASN1TAG tagNumber, ASN1TagType tagging, int length,
                  int64_t lowest, int64_t highest, int64_t *pvalue)
{
    std::span<const ASN1OCTET> contents;
    if (const int status = OpenPrimitive(pctxt, tagNumber, tagging, length, &contents))
        return status;
    if (const int status = ReadSigned(contents, pvalue)) return status;
    return (*pvalue < lowest || *pvalue > highest) ? ASN_E_INTOVFLW : ASN_OK;
}

template <typename T>
int DecodeInteger(Asn1Context *pctxt, ASN1TAG tagNumber, T *pvalue, ASN1TagType tagging, int length)
{
    if (!pvalue) return ASN_E_INVPARAM;
    int64_t value = 0;
    const int status =
        DecodeInRange(pctxt, tagNumber, tagging, length, std::numeric_limits<T>::min(),
                      std::numeric_limits<T>::max(), &value);
    if (status == ASN_OK) *pvalue = static_cast<T>(value);
    return status;
}

// One subidentifier (X.690 8.19.2): base 128, no leading 0x80 octet, the last octet without
// its continuation bit. Values above `limit` are refused.
int ReadSubidentifier(std::span<const ASN1OCTET> contents, size_t *pat, uint64_t limit,
                      uint64_t *pvalue)
{
    if (contents[*pat] == 0x80) return ASN_E_INVOBJID;
    uint64_t value = 0;
    for (;;) {
        if (*pat >= contents.size())
            return ASN_E_INVOBJID; // the last octet still had its continuation bit
        const ASN1OCTET octet = contents[(*pat)++];
        value = (value << 7) | (octet & 0x7F);
        if (value > limit) return ASN_E_INVOBJID;
        if (!(octet & 0x80)) break;
    }
    *pvalue = value;
    return ASN_OK;
}

int ParseObjid(std::span<const ASN1OCTET> contents, ASN1OBJID *pvalue)
{
    if (contents.empty()) return ASN_E_INVLEN;
    size_t at = 0;
    uint64_t first = 0;
    // The first subidentifier is 40 * arc1 + arc2, with arc2 unbounded under arc1 = 2.
    if (const int status = ReadSubidentifier(contents, &at, uint64_t{UINT32_MAX} + 80, &first))
        return status;
    const ASN1UINT topArc = first < 80 ? static_cast<ASN1UINT>(first / 40) : 2;
    pvalue->subid[0] = topArc;
    pvalue->subid[1] = static_cast<ASN1UINT>(first - uint64_t{topArc} * 40);
    ASN1UINT count = 2;
    while (at < contents.size()) {
        if (count == ASN_K_MAXSUBIDS) return ASN_E_INVOBJID;
        uint64_t arc = 0;
        if (const int status = ReadSubidentifier(contents, &at, UINT32_MAX, &arc)) return status;
        pvalue->subid[count++] = static_cast<ASN1UINT>(arc);
    }
    pvalue->numids = count;
    return ASN_OK;
}

} // namespace

extern "C" int xd_boolean(Asn1Context *pctxt, ASN1BOOL *pvalue, ASN1TagType tagging, int length)
{
    if (!pvalue) return ASN_E_INVPARAM;
    std::span<const ASN1OCTET> contents;
    if (const int status = OpenPrimitive(pctxt, ASN_ID_BOOL, tagging, length, &contents))
        return status;
    if (contents.size() != 1) return ASN_E_INVLEN;
    *pvalue = contents[0] ? 1 : 0;
    return ASN_OK;
}

extern "C" int xd_integer(Asn1Context *pctxt, ASN1INT *pvalue, ASN1TagType tagging, int length)
{
    return DecodeInteger(pctxt, ASN_ID_INT, pvalue, tagging, length);
}

extern "C" int xd_unsigned(Asn1Context *pctxt, ASN1UINT *pvalue, ASN1TagType tagging, int length)
{
    return DecodeInteger(pctxt, ASN_ID_INT, pvalue, tagging, length);
}

extern "C" int xd_uint16(Asn1Context *pctxt, ASN1USINT *pvalue, ASN1TagType tagging, int length)
{
    return DecodeInteger(pctxt, ASN_ID_INT, pvalue, tagging, length);
}

extern "C" int xd_enum(Asn1Context *pctxt, ASN1INT *pvalue, ASN1TagType tagging, int length)
{
    return DecodeInteger(pctxt, ASN_ID_ENUM, pvalue, tagging, length);
}

extern "C" int xd_bigint(Asn1Context *pctxt, const char **ppvalue, ASN1TagType tagging, int length)
{
    static const char kHexDigits[] = "0123456789abcdef";
    if (!ppvalue) return ASN_E_INVPARAM;
    std::span<const ASN1OCTET> contents;
    if (const int status = OpenPrimitive(pctxt, ASN_ID_INT, tagging, length, &contents))
        return status;
    if (contents.empty()) return ASN_E_INVLEN;
    auto *text = static_cast<char *>(ASN1MALLOC(pctxt, 2 + 2 * contents.size() + 1));
    if (!text) return ASN_E_NOMEM;
    char *out = text;
    *out++ = '0';
    *out++ = 'x';
    for (const ASN1OCTET octet : contents) {
        *out++ = kHexDigits[octet >> 4];
        *out++ = kHexDigits[octet & 0x0F];
    }
    *out = '\0';
    *ppvalue = text;
    return ASN_OK;
}

extern "C" int xd_null(Asn1Context *pctxt, ASN1TagType tagging)
{
    if (tagging == ASN1IMPL) return ASN_OK; // the caller read the tag and its length
    std::span<const ASN1OCTET> contents;
    if (const int status = OpenPrimitive(pctxt, ASN_ID_NULL, tagging, 0, &contents)) return status;
    return contents.empty() ? ASN_OK : ASN_E_INVLEN;
}

extern "C" int xd_objid(Asn1Context *pctxt, ASN1OBJID *pvalue, ASN1TagType tagging, int length)
{
    if (!pvalue) return ASN_E_INVPARAM;
    std::span<const ASN1OCTET> contents;
    if (const int status = OpenPrimitive(pctxt, ASN_ID_OBJID, tagging, length, &contents))
        return status;
    ASN1OBJID parsed;
    parsed.numids = 0;
    const int status = ParseObjid(contents, &parsed);
    if (status != ASN_OK) return status;
    pvalue->numids = parsed.numids;
    std::copy_n(parsed.subid, parsed.numids, pvalue->subid);
    return ASN_OK;
}

// DER encoders of the primitive types. Each writes its contents, then (with explicit
// tagging) its universal identifier and length in front, and returns the octets written.
#include "Internal.h"

#include <array>
#include <cstring>

using namespace asn1rt;

namespace {

int Written(int status, size_t count)
{
    return status == ASN_OK ? static_cast<int>(count) : status;
}

// Value of every octet as a hexadecimal digit, -1 for the octets that are none.
constexpr auto kHexDigitValues = [] {
    std::array<signed char, 256> values{};
    values.fill(-1);
    for (int i = 0; i < 10; i++)
        values['0' + i] = static_cast<signed char>(i);
    for (int i = 0; i < 6; i++)
        values['a' + i] = values['A' + i] = static_cast<signed char>(10 + i);
    return values;
}();

int HexDigit(char c)
{
    return kHexDigitValues[static_cast<unsigned char>(c)];
}

// Two's-complement contents in the fewest octets.
int PutMinimalSigned(Asn1Context *pctxt, std::span<const ASN1OCTET> octets)
{
    const auto minimal = WithoutRedundantSignOctets(octets);
    return Written(PutOctets(pctxt, minimal), minimal.size());
}

int PutSigned(Asn1Context *pctxt, int64_t value)
{
    ASN1OCTET octets[8]; // the value, most significant octet first
    for (size_t i = 0; i < sizeof octets; i++)
        octets[sizeof octets - 1 - i] =
            static_cast<ASN1OCTET>(static_cast<uint64_t>(value) >> (8 * i));
    return PutMinimalSigned(pctxt, octets);
}

// Converts the hexadecimal digits into octets in a heap block; an odd count is read as if a
// leading zero digit were there.
int HexToOctets(Asn1Context *pctxt, const char *digits, std::span<ASN1OCTET> *poctets)
{
    const size_t digitCount = std::strlen(digits);
    if (digitCount == 0 || digitCount / 2 >= kMaxLength) return ASN_E_INVHEXS;
    const size_t count = (digitCount + 1) / 2;
    auto *octets = static_cast<ASN1OCTET *>(ASN1MALLOC(pctxt, count));
    if (!octets) return ASN_E_NOMEM;
    size_t next = 0;
    if (digitCount % 2) { // the lone digit of the first octet
        const int low = HexDigit(*digits++);
        if (low < 0) return ASN_E_INVHEXS;
        octets[next++] = static_cast<ASN1OCTET>(low);
    }
    for (; next < count; next++, digits += 2) {
        const int high = HexDigit(digits[0]), low = HexDigit(digits[1]);
        if ((high | low) < 0) return ASN_E_INVHEXS;
        octets[next] = static_cast<ASN1OCTET>(high << 4 | low);
    }
    *poctets = {octets, count};
    return ASN_OK;
}

// One subidentifier in base 128, most significant group first (X.690 8.19.2).
int PutSubidentifier(Asn1Context *pctxt, uint64_t value, size_t *pcount)
{
    ASN1OCTET groups[10]; // 64 bits in 7-bit groups
    size_t count = 0;
    do {
        groups[sizeof groups - 1 - count] =
            static_cast<ASN1OCTET>((value & 0x7F) | (count ? 0x80 : 0));
        value >>= 7;
        count++;
    } while (value);
    *pcount += count;
    return PutOctets(pctxt, {groups + sizeof groups - count, count});
}

template <typename Unit> int PutWideChars(Asn1Context *pctxt, const Unit *units, ASN1UINT count)
{
    if (count && !units) return ASN_E_INVPARAM;
    if (count > kMaxLength / sizeof(Unit)) return ASN_E_BUFOVFLW;
    int status = ASN_OK;
    ASN1OCTET *out = ReserveFront(pctxt, count * sizeof(Unit), &status);
    for (ASN1UINT i = 0; out && i < count; i++)
        for (size_t k = 0; k < sizeof(Unit); k++)
            *out++ = static_cast<ASN1OCTET>(units[i] >> (8 * (sizeof(Unit) - 1 - k)));
    return Written(status, count * sizeof(Unit));
}

} // namespace

extern "C" int xe_boolean(Asn1Context *pctxt, const ASN1BOOL *pvalue, ASN1TagType tagging)
{
    if (!pvalue) return ASN_E_INVPARAM;
    const int length = Written(PutOctet(pctxt, *pvalue ? 0xFF : 0x00), 1); // X.690 11.1
    return WrapUniversal(pctxt, ASN_ID_BOOL, length, tagging);
}

extern "C" int xe_integer(Asn1Context *pctxt, const ASN1INT *pvalue, ASN1TagType tagging)
{
    if (!pvalue) return ASN_E_INVPARAM;
    return WrapUniversal(pctxt, ASN_ID_INT, PutSigned(pctxt, *pvalue), tagging);
}

extern "C" int xe_unsigned(Asn1Context *pctxt, const ASN1UINT *pvalue, ASN1TagType tagging)
{
    if (!pvalue) return ASN_E_INVPARAM;
    return WrapUniversal(pctxt, ASN_ID_INT, PutSigned(pctxt, *pvalue), tagging);
}

extern "C" int xe_uint16(Asn1Context *pctxt, const ASN1USINT *pvalue, ASN1TagType tagging)
{
    if (!pvalue) return ASN_E_INVPARAM;
    return WrapUniversal(pctxt, ASN_ID_INT, PutSigned(pctxt, *pvalue), tagging);
}

extern "C" int xe_enum(Asn1Context *pctxt, const ASN1INT *pvalue, ASN1TagType tagging)
{
    if (!pvalue) return ASN_E_INVPARAM;
    return WrapUniversal(pctxt, ASN_ID_ENUM, PutSigned(pctxt, *pvalue), tagging);
}

extern "C" int xe_bigint(Asn1Context *pctxt, const char *pvalue, ASN1TagType tagging)
{
    if (!pctxt || !pvalue) return ASN_E_INVPARAM;
    if (pvalue[0] != '0' || (pvalue[1] != 'x' && pvalue[1] != 'X')) return ASN_E_INVHEXS;
    std::span<ASN1OCTET> octets;
    const int status = HexToOctets(pctxt, pvalue + 2, &octets);
    if (status != ASN_OK) return status;
    return WrapUniversal(pctxt, ASN_ID_INT, PutMinimalSigned(pctxt, octets), tagging);
}

extern "C" int xe_null(Asn1Context *pctxt, ASN1TagType tagging)
{
    return WrapUniversal(pctxt, ASN_ID_NULL, 0, tagging);
}

extern "C" int xe_objid(Asn1Context *pctxt, const ASN1OBJID *pvalue, ASN1TagType tagging)
{
    if (!pvalue) return ASN_E_INVPARAM;
    if (pvalue->numids > ASN_K_MAXSUBIDS || !ValidLeadingArcs(*pvalue)) return ASN_E_INVOBJID;
    size_t count = 0;
    int status = ASN_OK;
    for (ASN1UINT i = pvalue->numids - 1; i >= 2 && status == ASN_OK; i--)
        status = PutSubidentifier(pctxt, pvalue->subid[i], &count);
    // The first two arcs share one subidentifier: 40 * first + second (X.690 8.19.4).
    if (status == ASN_OK)
        status =
            PutSubidentifier(pctxt, uint64_t{pvalue->subid[0]} * 40 + pvalue->subid[1], &count);
    return WrapUniversal(pctxt, ASN_ID_OBJID, Written(status, count), tagging);
}

extern "C" int xe_octstr(Asn1Context *pctxt, const ASN1OCTET *data, ASN1UINT numocts,
                         ASN1TagType tagging)
{
    if (numocts && !data) return ASN_E_INVPARAM;
    if (numocts > kMaxLength) return ASN_E_BUFOVFLW;
    const int length = Written(PutOctets(pctxt, {data, numocts}), numocts);
    return WrapUniversal(pctxt, ASN_ID_OCTSTR, length, tagging);
}

extern "C" int xe_bitstr(Asn1Context *pctxt, const ASN1OCTET *data, ASN1UINT numbits,
                         ASN1TagType tagging)
{
    const size_t numocts = (size_t{numbits} + 7) / 8;
    if (numocts && !data) return ASN_E_INVPARAM;
    const unsigned unusedBits = static_cast<unsigned>(numocts * 8 - numbits);
    int status = ASN_OK;
    ASN1OCTET *out = ReserveFront(pctxt, numocts + 1, &status);
    if (out) {
        // "the initial octet shall encode ... the number of unused bits in the final
        // subsequent octet"; DER sets those bits to zero              -- X.690 8.6.2.2, 11.2.1
        out[0] = static_cast<ASN1OCTET>(unusedBits);
        if (numocts) {
            std::memcpy(out + 1, data, numocts);
            out[numocts] &= static_cast<ASN1OCTET>(0xFF << unusedBits);
        }
    }
    return WrapUniversal(pctxt, ASN_ID_BITSTR, Written(status, numocts + 1), tagging);
}

extern "C" int xe_charstr(Asn1Context *pctxt, const char *pvalue, ASN1TagType tagging, ASN1TAG tag)
{
    if (!pvalue || tag == 0 || tag >= 31) return ASN_E_INVPARAM;
    const size_t length = std::strlen(pvalue);
    if (length > kMaxLength) return ASN_E_BUFOVFLW;
    const auto *octets = reinterpret_cast<const ASN1OCTET *>(pvalue);
    return WrapUniversal(pctxt, tag, Written(PutOctets(pctxt, {octets, length}), length), tagging);
}

extern "C" int xe_16BitCharStr(Asn1Context *pctxt, const Asn116BitCharString *pvalue,
                               ASN1TagType tagging, ASN1TAG tag)
{
    if (!pvalue || tag == 0 || tag >= 31) return ASN_E_INVPARAM;
    return WrapUniversal(pctxt, tag, PutWideChars(pctxt, pvalue->data, pvalue->nchars), tagging);
}

extern "C" int xe_32BitCharStr(Asn1Context *pctxt, const Asn132BitCharString *pvalue,
                               ASN1TagType tagging, ASN1TAG tag)
{
    if (!pvalue || tag == 0 || tag >= 31) return ASN_E_INVPARAM;
    return WrapUniversal(pctxt, tag, PutWideChars(pctxt, pvalue->data, pvalue->nchars), tagging);
}

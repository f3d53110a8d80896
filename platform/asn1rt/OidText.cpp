// Object identifiers as dotted-decimal text ("1.2.643.2.2.19").
#include "Internal.h"

namespace {

size_t DecimalDigits(ASN1UINT value)
{
    size_t digits = 1;
    while (value >= 10) {
        value /= 10;
        digits++;
    }
    return digits;
}

// One arc: a decimal number below 2^32 without leading zeros. Advances *ptext past it.
bool ParseArc(const char **ptext, ASN1UINT *parc)
{
    const char *text = *ptext;
    if (*text < '0' || *text > '9' || (text[0] == '0' && text[1] >= '0' && text[1] <= '9'))
        return false;
    uint64_t value = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        value = value * 10 + static_cast<uint64_t>(*text - '0');
        if (value > UINT32_MAX) return false;
    }
    *parc = static_cast<ASN1UINT>(value);
    *ptext = text;
    return true;
}

} // namespace

bool asn1rt::ValidLeadingArcs(const ASN1OBJID &oid)
{
    return oid.numids >= 2 && oid.subid[0] <= 2 && (oid.subid[0] == 2 || oid.subid[1] < 40);
}

extern "C" size_t rtOidToStrLen(const ASN1OBJID *pOID)
{
    if (!pOID || pOID->numids == 0 || pOID->numids > ASN_K_MAXSUBIDS) return 0;
    size_t length = pOID->numids - 1; // the dots
    for (ASN1UINT i = 0; i < pOID->numids; i++)
        length += DecimalDigits(pOID->subid[i]);
    return length;
}

extern "C" int rtOidToStr(const ASN1OBJID *pOID, char *buf, size_t bufsize)
{
    const size_t length = rtOidToStrLen(pOID);
    if (length == 0 || !buf || length >= bufsize) return 0;
    // Written from the end, each arc's digits from the last one.
    char *out = buf + length;
    *out = '\0';
    for (ASN1UINT i = pOID->numids; i-- > 0;) {
        ASN1UINT arc = pOID->subid[i];
        do {
            *--out = static_cast<char>('0' + arc % 10);
            arc /= 10;
        } while (arc);
        if (i) *--out = '.';
    }
    return 1;
}

extern "C" int rtStrToOid(const char *text, ASN1OBJID *pOID)
{
    if (!text || !pOID) return 0;
    ASN1OBJID parsed;
    parsed.numids = 0;
    for (;;) {
        if (parsed.numids == ASN_K_MAXSUBIDS || !ParseArc(&text, &parsed.subid[parsed.numids]))
            return 0;
        parsed.numids++;
        if (*text == '\0') break;
        if (*text++ != '.') return 0;
    }
    if (!asn1rt::ValidLeadingArcs(parsed)) return 0;
    pOID->numids = parsed.numids;
    for (ASN1UINT i = 0; i < parsed.numids; i++)
        pOID->subid[i] = parsed.subid[i];
    return 1;
}

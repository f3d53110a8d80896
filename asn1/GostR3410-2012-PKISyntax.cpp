// GostR3410-2012-PKISyntax: GOST R 34.10-2012 public keys (RFC 9215).
#include "asn1/Asn1Codec.h"

using namespace asn1codec;

// GostR3410-PublicKey ::= OCTET STRING (SIZE (64 | 128))
// The little-endian X and Y of the point, 32 or 64 octets each.
int asn1E_GostR3410_PublicKey(Asn1Context *pctxt, GostR3410_PublicKey *pvalue, ASN1TagType tagging)
{
    const int stat = CheckOneOf(pctxt, "pvalue->numocts", pvalue->numocts, {64, 128});
    return stat < 0 ? stat : EncodeOctets(pctxt, pvalue->data, pvalue->numocts, tagging);
}

int asn1D_GostR3410_PublicKey(Asn1Context *pctxt, GostR3410_PublicKey *pvalue, ASN1TagType tagging,
                              int length)
{
    const int stat = DecodeOctetsInto(pctxt, pvalue->data, &pvalue->numocts, tagging, length);
    return stat < 0 ? stat : CheckOneOf(pctxt, "pvalue->numocts", pvalue->numocts, {64, 128});
}

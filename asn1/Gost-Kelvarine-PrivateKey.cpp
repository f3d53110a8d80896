// Gost-Kelvarine-PrivateKey: values kept in the extensions of a private-key container.
#include "asn1/Asn1Codec.h"

using namespace asn1codec;

// UecSymmetricKeyDeriveCounter ::= INTEGER (0..MAX)
int asn1D_UecSymmetricKeyDeriveCounter(Asn1Context *pctxt, UecSymmetricKeyDeriveCounter *pvalue,
                                       ASN1TagType tagging, int length)
{
    const int stat = xd_unsigned(pctxt, pvalue, tagging, length);
    return stat < 0 ? Fail(pctxt, stat) : 0;
}

// GostPrivateCertificateStore ::= SET OF ANY
// Each element is one complete encoding (a certificate, as a rule), carried verbatim.
int asn1E_GostPrivateCertificateStore(Asn1Context *pctxt, GostPrivateCertificateStore *pvalue,
                                      ASN1TagType tagging)
{
    const int len = EncodeSetOf(pctxt, EncodeOpenType, pvalue);
    return len < 0 ? len : WrapIfExplicit(pctxt, tagging, kSet, len);
}

int asn1D_GostPrivateCertificateStore(Asn1Context *pctxt, GostPrivateCertificateStore *pvalue,
                                      ASN1TagType tagging, int length)
{
    return DecodeList(pctxt, ASN_ID_SET, tagging, length, DecodeOpenType, pvalue);
}

// Gost-Qualified-Certificate: extensions of the Russian qualified-certificate profile.
#include "asn1/Asn1Codec.h"

using namespace asn1codec;

// IssuerSignTool ::= SEQUENCE {
//     signTool      UTF8String,
//     cATool        UTF8String,
//     signToolCert  UTF8String,
//     cAToolCert    UTF8String }
int asn1E_IssuerSignTool(Asn1Context *pctxt, IssuerSignTool *pvalue, ASN1TagType tagging)
{
    int total = 0, len;
    if ((len = EncodeText(pctxt, pvalue->cAToolCert, ASN1EXPL, ASN_ID_UTF8String)) < 0)
        return Fail(pctxt, len);
    total += len;
    if ((len = EncodeText(pctxt, pvalue->signToolCert, ASN1EXPL, ASN_ID_UTF8String)) < 0)
        return Fail(pctxt, len);
    total += len;
    if ((len = EncodeText(pctxt, pvalue->cATool, ASN1EXPL, ASN_ID_UTF8String)) < 0)
        return Fail(pctxt, len);
    total += len;
    if ((len = EncodeText(pctxt, pvalue->signTool, ASN1EXPL, ASN_ID_UTF8String)) < 0)
        return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

static int DecodeUtf8(Asn1Context *pctxt, const char **ptext, ASN1TagType tagging, int length)
{
    return DecodeText(pctxt, ptext, tagging, ASN_ID_UTF8String, length);
}

int asn1D_IssuerSignTool(Asn1Context *pctxt, IssuerSignTool *pvalue, ASN1TagType tagging,
                         int length)
{
    Asn1Ccb ccb;
    int stat;
    if ((stat = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return stat;
    if ((stat = DecodeRequired(pctxt, ccb, DecodeUtf8, &pvalue->signTool)) < 0) return stat;
    if ((stat = DecodeRequired(pctxt, ccb, DecodeUtf8, &pvalue->cATool)) < 0) return stat;
    if ((stat = DecodeRequired(pctxt, ccb, DecodeUtf8, &pvalue->signToolCert)) < 0) return stat;
    if ((stat = DecodeRequired(pctxt, ccb, DecodeUtf8, &pvalue->cAToolCert)) < 0) return stat;
    return EndContents(pctxt, ccb);
}

// GostR3410-2001-PKISyntax: parameters of GOST R 34.10-2001 public keys (RFC 4491).
#include "asn1/Asn1Codec.h"

using namespace asn1codec;

// GostR3410-2001-PublicKeyParameters ::= SEQUENCE {
//     publicKeyParamSet   OBJECT IDENTIFIER,
//     digestParamSet      OBJECT IDENTIFIER,
//     encryptionParamSet  Gost28147-89-ParamSet OPTIONAL }
int asn1D_GostR3410_2001_PublicKeyParameters(Asn1Context *pctxt,
                                             GostR3410_2001_PublicKeyParameters *pvalue,
                                             ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeRequired(pctxt, ccb, DecodeObjid, &pvalue->publicKeyParamSet)) < 0)
        return found;
    if ((found = DecodeRequired(pctxt, ccb, DecodeObjid, &pvalue->digestParamSet)) < 0)
        return found;
    if ((found = DecodeOptional(pctxt, ccb, DecodeObjid, &pvalue->encryptionParamSet)) < 0)
        return found;
    pvalue->m.encryptionParamSetPresent = found;
    return EndContents(pctxt, ccb);
}

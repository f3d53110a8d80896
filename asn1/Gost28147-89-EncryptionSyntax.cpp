// Gost28147-89-EncryptionSyntax: GOST 28147-89 keys, IVs, MACs and cipher parameters
// (RFC 4357).
#include "asn1/Asn1Codec.h"

using namespace asn1codec;

// Gost28147-89-IV ::= OCTET STRING (SIZE (8))
int asn1E_Gost28147_89_IV(Asn1Context *pctxt, Gost28147_89_IV *pvalue, ASN1TagType tagging)
{
    const int stat = CheckRange(pctxt, "pvalue->numocts", pvalue->numocts, 8, 8);
    return stat < 0 ? stat : EncodeOctets(pctxt, pvalue->data, pvalue->numocts, tagging);
}

int asn1D_Gost28147_89_IV(Asn1Context *pctxt, Gost28147_89_IV *pvalue, ASN1TagType tagging,
                          int length)
{
    const int stat = DecodeOctetsInto(pctxt, pvalue->data, &pvalue->numocts, tagging, length);
    return stat < 0 ? stat : CheckRange(pctxt, "pvalue->numocts", pvalue->numocts, 8, 8);
}

// Gost28147-89-Key ::= OCTET STRING (SIZE (32)), held with room for 64-octet keys too.
int asn1E_Gost28147_89_Key(Asn1Context *pctxt, Gost28147_89_Key *pvalue, ASN1TagType tagging)
{
    const int stat = CheckOneOf(pctxt, "pvalue->numocts", pvalue->numocts, {32, 64});
    return stat < 0 ? stat : EncodeOctets(pctxt, pvalue->data, pvalue->numocts, tagging);
}

int asn1D_Gost28147_89_Key(Asn1Context *pctxt, Gost28147_89_Key *pvalue, ASN1TagType tagging,
                           int length)
{
    const int stat = DecodeOctetsInto(pctxt, pvalue->data, &pvalue->numocts, tagging, length);
    return stat < 0 ? stat : CheckOneOf(pctxt, "pvalue->numocts", pvalue->numocts, {32, 64});
}

// Gost28147-89-MAC ::= OCTET STRING (SIZE (1..4))
int asn1E_Gost28147_89_MAC(Asn1Context *pctxt, Gost28147_89_MAC *pvalue, ASN1TagType tagging)
{
    const int stat = CheckRange(pctxt, "pvalue->numocts", pvalue->numocts, 1, 4);
    return stat < 0 ? stat : EncodeOctets(pctxt, pvalue->data, pvalue->numocts, tagging);
}

int asn1D_Gost28147_89_MAC(Asn1Context *pctxt, Gost28147_89_MAC *pvalue, ASN1TagType tagging,
                           int length)
{
    const int stat = DecodeOctetsInto(pctxt, pvalue->data, &pvalue->numocts, tagging, length);
    return stat < 0 ? stat : CheckRange(pctxt, "pvalue->numocts", pvalue->numocts, 1, 4);
}

// Gost28147-89-ParamSet ::= OBJECT IDENTIFIER
int asn1E_Gost28147_89_ParamSet(Asn1Context *pctxt, Gost28147_89_ParamSet *pvalue,
                                ASN1TagType tagging)
{
    return EncodeObjid(pctxt, pvalue, tagging);
}

int asn1D_Gost28147_89_ParamSet(Asn1Context *pctxt, Gost28147_89_ParamSet *pvalue,
                                ASN1TagType tagging, int length)
{
    return DecodeObjid(pctxt, pvalue, tagging, length);
}

// Gost28147-89-EncryptedKey ::= SEQUENCE {
//     encryptedKey  Gost28147-89-Key,
//     maskKey       [0] IMPLICIT Gost28147-89-Key OPTIONAL,
//     macKey        Gost28147-89-MAC }
// The key wraps in use always produce a 4-octet MAC, so no other is written.
int asn1E_Gost28147_89_EncryptedKey(Asn1Context *pctxt, Gost28147_89_EncryptedKey *pvalue,
                                    ASN1TagType tagging)
{
    int total = 0, len;
    if ((len = CheckRange(pctxt, "pvalue->macKey.numocts", pvalue->macKey.numocts, 4, 4)) < 0)
        return len;
    if ((len = asn1E_Gost28147_89_MAC(pctxt, &pvalue->macKey, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    if (pvalue->m.maskKeyPresent) {
        if ((len = EncodeImplicit(pctxt, asn1E_Gost28147_89_Key, &pvalue->maskKey,
                                  ContextPrimitive(0))) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if ((len = asn1E_Gost28147_89_Key(pctxt, &pvalue->encryptedKey, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_Gost28147_89_EncryptedKey(Asn1Context *pctxt, Gost28147_89_EncryptedKey *pvalue,
                                    ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeRequired(pctxt, ccb, asn1D_Gost28147_89_Key, &pvalue->encryptedKey)) < 0)
        return found;
    if ((found = DecodeImplicit(pctxt, ccb, 0, asn1D_Gost28147_89_Key, &pvalue->maskKey)) < 0)
        return found;
    pvalue->m.maskKeyPresent = found;
    if ((found = DecodeRequired(pctxt, ccb, asn1D_Gost28147_89_MAC, &pvalue->macKey)) < 0)
        return found;
    return EndContents(pctxt, ccb);
}

// Gost28147-89-BlobParameters ::= SEQUENCE {
//     encryptionParamSet  Gost28147-89-ParamSet,
//     ... }
// Elements kept after the extension marker are written back unchanged, after the root.
int asn1E_Gost28147_89_BlobParameters(Asn1Context *pctxt, Gost28147_89_BlobParameters *pvalue,
                                      ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->extElem1.count > 0) {
        if ((len = xe_OpenTypeExt(pctxt, &pvalue->extElem1)) < 0) return Fail(pctxt, len);
        total += len;
    }
    if ((len = asn1E_Gost28147_89_ParamSet(pctxt, &pvalue->encryptionParamSet, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

// Gost28147-89-Parameters ::= SEQUENCE {
//     iv                  Gost28147-89-IV,
//     encryptionParamSet  Gost28147-89-ParamSet }
int asn1E_Gost28147_89_Parameters(Asn1Context *pctxt, Gost28147_89_Parameters *pvalue,
                                  ASN1TagType tagging)
{
    int total = 0, len;
    if ((len = asn1E_Gost28147_89_ParamSet(pctxt, &pvalue->encryptionParamSet, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    if ((len = asn1E_Gost28147_89_IV(pctxt, &pvalue->iv, ASN1EXPL)) < 0) return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_Gost28147_89_Parameters(Asn1Context *pctxt, Gost28147_89_Parameters *pvalue,
                                  ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int stat;
    if ((stat = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return stat;
    if ((stat = DecodeRequired(pctxt, ccb, asn1D_Gost28147_89_IV, &pvalue->iv)) < 0) return stat;
    if ((stat = DecodeRequired(pctxt, ccb, asn1D_Gost28147_89_ParamSet,
                               &pvalue->encryptionParamSet)) < 0)
        return stat;
    return EndContents(pctxt, ccb);
}

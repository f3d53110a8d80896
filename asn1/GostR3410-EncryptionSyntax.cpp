// GostR3410-EncryptionSyntax: GOST R 34.10 key transport and key-wrap parameters
// (RFC 4490).
#include "asn1/Asn1Codec.h"

using namespace asn1codec;

// Key-wrap algorithms: 1.2.643.2.2.13.0 without and 1.2.643.2.2.13.1 with key
// diversification (RFC 4357, 6.1 and 6.3).
const ASN1OBJID id_Gost28147_89_None_KeyWrap = {7, {1, 2, 643, 2, 2, 13, 0}};
const ASN1OBJID id_Gost28147_89_Kelvarine_KeyWrap = {7, {1, 2, 643, 2, 2, 13, 1}};

// ukm  OCTET STRING (SIZE (8))
template <typename Ukm> static int EncodeUkm(Asn1Context *pctxt, Ukm *pvalue, ASN1TagType tagging)
{
    const int stat = CheckRange(pctxt, "pvalue->numocts", pvalue->numocts, 8, 8);
    return stat < 0 ? stat : EncodeOctets(pctxt, pvalue->data, pvalue->numocts, tagging);
}

template <typename Ukm>
static int DecodeUkm(Asn1Context *pctxt, Ukm *pvalue, ASN1TagType tagging, int length)
{
    const int stat = DecodeOctetsInto(pctxt, pvalue->data, &pvalue->numocts, tagging, length);
    return stat < 0 ? stat : CheckRange(pctxt, "pvalue->numocts", pvalue->numocts, 8, 8);
}

int asn1E_Gost28147_89_KeyWrapParameters_ukm(Asn1Context *pctxt,
                                             Gost28147_89_KeyWrapParameters_ukm *pvalue,
                                             ASN1TagType tagging)
{
    return EncodeUkm(pctxt, pvalue, tagging);
}

int asn1D_Gost28147_89_KeyWrapParameters_ukm(Asn1Context *pctxt,
                                             Gost28147_89_KeyWrapParameters_ukm *pvalue,
                                             ASN1TagType tagging, int length)
{
    return DecodeUkm(pctxt, pvalue, tagging, length);
}

int asn1E_GostR3410_TransportParameters_ukm(Asn1Context *pctxt,
                                            GostR3410_TransportParameters_ukm *pvalue,
                                            ASN1TagType tagging)
{
    return EncodeUkm(pctxt, pvalue, tagging);
}

int asn1D_GostR3410_TransportParameters_ukm(Asn1Context *pctxt,
                                            GostR3410_TransportParameters_ukm *pvalue,
                                            ASN1TagType tagging, int length)
{
    return DecodeUkm(pctxt, pvalue, tagging, length);
}

// Gost28147-89-KeyWrapParameters ::= SEQUENCE {
//     encryptionParamSet  Gost28147-89-ParamSet,
//     ukm                 OCTET STRING (SIZE (8)) OPTIONAL }
int asn1E_Gost28147_89_KeyWrapParameters(Asn1Context *pctxt, Gost28147_89_KeyWrapParameters *pvalue,
                                         ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->m.ukmPresent) {
        if ((len = asn1E_Gost28147_89_KeyWrapParameters_ukm(pctxt, &pvalue->ukm, ASN1EXPL)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if ((len = asn1E_Gost28147_89_ParamSet(pctxt, &pvalue->encryptionParamSet, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_Gost28147_89_KeyWrapParameters(Asn1Context *pctxt, Gost28147_89_KeyWrapParameters *pvalue,
                                         ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeRequired(pctxt, ccb, asn1D_Gost28147_89_ParamSet,
                                &pvalue->encryptionParamSet)) < 0)
        return found;
    if ((found = DecodeOptional(pctxt, ccb, asn1D_Gost28147_89_KeyWrapParameters_ukm,
                                &pvalue->ukm)) < 0)
        return found;
    pvalue->m.ukmPresent = found;
    return EndContents(pctxt, ccb);
}

// GostR3410-TransportParameters ::= SEQUENCE {
//     encryptionParamSet  OBJECT IDENTIFIER,
//     ephemeralPublicKey  [0] IMPLICIT SubjectPublicKeyInfo OPTIONAL,
//     ukm                 OCTET STRING }
int asn1E_GostR3410_TransportParameters(Asn1Context *pctxt, GostR3410_TransportParameters *pvalue,
                                        ASN1TagType tagging)
{
    int total = 0, len;
    if ((len = asn1E_GostR3410_TransportParameters_ukm(pctxt, &pvalue->ukm, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    if (pvalue->m.ephemeralPublicKeyPresent) {
        if ((len = EncodeImplicit(pctxt, asn1E_SubjectPublicKeyInfo, &pvalue->ephemeralPublicKey,
                                  ContextConstructed(0))) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if ((len = asn1E_Gost28147_89_ParamSet(pctxt, &pvalue->encryptionParamSet, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_GostR3410_TransportParameters(Asn1Context *pctxt, GostR3410_TransportParameters *pvalue,
                                        ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeRequired(pctxt, ccb, asn1D_Gost28147_89_ParamSet,
                                &pvalue->encryptionParamSet)) < 0)
        return found;
    if ((found = DecodeImplicit(pctxt, ccb, 0, asn1D_SubjectPublicKeyInfo,
                                &pvalue->ephemeralPublicKey)) < 0)
        return found;
    pvalue->m.ephemeralPublicKeyPresent = found;
    if ((found =
             DecodeRequired(pctxt, ccb, asn1D_GostR3410_TransportParameters_ukm, &pvalue->ukm)) < 0)
        return found;
    return EndContents(pctxt, ccb);
}

// GostR3410-KeyTransport ::= SEQUENCE {
//     sessionEncryptedKey  Gost28147-89-EncryptedKey,
//     transportParameters  [0] IMPLICIT GostR3410-TransportParameters OPTIONAL }
int asn1E_GostR3410_KeyTransport(Asn1Context *pctxt, GostR3410_KeyTransport *pvalue,
                                 ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->m.transportParametersPresent) {
        if ((len = EncodeImplicit(pctxt, asn1E_GostR3410_TransportParameters,
                                  &pvalue->transportParameters, ContextConstructed(0))) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if ((len = asn1E_Gost28147_89_EncryptedKey(pctxt, &pvalue->sessionEncryptedKey, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_GostR3410_KeyTransport(Asn1Context *pctxt, GostR3410_KeyTransport *pvalue,
                                 ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeRequired(pctxt, ccb, asn1D_Gost28147_89_EncryptedKey,
                                &pvalue->sessionEncryptedKey)) < 0)
        return found;
    if ((found = DecodeImplicit(pctxt, ccb, 0, asn1D_GostR3410_TransportParameters,
                                &pvalue->transportParameters)) < 0)
        return found;
    pvalue->m.transportParametersPresent = found;
    return EndContents(pctxt, ccb);
}

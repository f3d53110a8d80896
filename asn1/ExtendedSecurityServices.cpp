// ExtendedSecurityServices: the signing-certificate attributes and their certificate
// identifiers, ESSCertID (RFC 2634), ESSCertIDv2 (RFC 5035) and OtherCertID (RFC 3126).
#include "asn1/Asn1Codec.h"

using namespace asn1codec;

// CertHash ::= OCTET STRING                                        -- RFC 2634, 5.4.1
int asn1E_CertHash(Asn1Context *pctxt, CertHash *pvalue, ASN1TagType tagging)
{
    return EncodeDynOctets(pctxt, pvalue, tagging);
}

int asn1D_CertHash(Asn1Context *pctxt, CertHash *pvalue, ASN1TagType tagging, int length)
{
    return DecodeOctets(pctxt, pvalue, tagging, length);
}

// OtherHashValue ::= OCTET STRING
int asn1E_OtherHashValue(Asn1Context *pctxt, OtherHashValue *pvalue, ASN1TagType tagging)
{
    return EncodeDynOctets(pctxt, pvalue, tagging);
}

int asn1D_OtherHashValue(Asn1Context *pctxt, OtherHashValue *pvalue, ASN1TagType tagging,
                         int length)
{
    return DecodeOctets(pctxt, pvalue, tagging, length);
}

// IssuerSerial ::= SEQUENCE {
//     issuer        GeneralNames,
//     serialNumber  CertificateSerialNumber,
//     issuerUID     UniqueIdentifier OPTIONAL }                   -- RFC 2634, 5.4.1
int asn1E_IssuerSerial(Asn1Context *pctxt, IssuerSerial *pvalue, ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->m.issuerUIDPresent) {
        if ((len = asn1E_UniqueIdentifier(pctxt, &pvalue->issuerUID, ASN1EXPL)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if ((len = asn1E_CertificateSerialNumber(pctxt, &pvalue->serialNumber, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    if ((len = asn1E_GeneralNames(pctxt, &pvalue->issuer, ASN1EXPL)) < 0) return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_IssuerSerial(Asn1Context *pctxt, IssuerSerial *pvalue, ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeRequired(pctxt, ccb, asn1D_GeneralNames, &pvalue->issuer)) < 0) return found;
    if ((found = DecodeRequired(pctxt, ccb, asn1D_CertificateSerialNumber, &pvalue->serialNumber)) <
        0)
        return found;
    if ((found = DecodeOptional(pctxt, ccb, asn1D_UniqueIdentifier, &pvalue->issuerUID)) < 0)
        return found;
    pvalue->m.issuerUIDPresent = found;
    return EndContents(pctxt, ccb);
}

// ESSCertID ::= SEQUENCE { certHash Hash, issuerSerial IssuerSerial OPTIONAL }
//                                                                  -- RFC 2634, 5.4.1
int asn1E_ESSCertID(Asn1Context *pctxt, ESSCertID *pvalue, ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->m.issuerSerialPresent) {
        if ((len = asn1E_IssuerSerial(pctxt, &pvalue->issuerSerial, ASN1EXPL)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if ((len = asn1E_CertHash(pctxt, &pvalue->certHash, ASN1EXPL)) < 0) return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_ESSCertID(Asn1Context *pctxt, ESSCertID *pvalue, ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeRequired(pctxt, ccb, asn1D_CertHash, &pvalue->certHash)) < 0) return found;
    if ((found = DecodeOptional(pctxt, ccb, asn1D_IssuerSerial, &pvalue->issuerSerial)) < 0)
        return found;
    pvalue->m.issuerSerialPresent = found;
    return EndContents(pctxt, ccb);
}

int asn1E__SeqOfESSCertID(Asn1Context *pctxt, _SeqOfESSCertID *pvalue, ASN1TagType tagging)
{
    return EncodeSequenceOf(pctxt, asn1E_ESSCertID, pvalue, tagging);
}

int asn1D__SeqOfESSCertID(Asn1Context *pctxt, _SeqOfESSCertID *pvalue, ASN1TagType tagging,
                          int length)
{
    return DecodeList(pctxt, ASN_ID_SEQ, tagging, length, asn1D_ESSCertID, pvalue);
}

int asn1E__SeqOfPolicyInformation(Asn1Context *pctxt, _SeqOfPolicyInformation *pvalue,
                                  ASN1TagType tagging)
{
    return EncodeSequenceOf(pctxt, asn1E_PolicyInformation, pvalue, tagging);
}

int asn1D__SeqOfPolicyInformation(Asn1Context *pctxt, _SeqOfPolicyInformation *pvalue,
                                  ASN1TagType tagging, int length)
{
    return DecodeList(pctxt, ASN_ID_SEQ, tagging, length, asn1D_PolicyInformation, pvalue);
}

// The three signing-certificate attributes share one shape:
//     SEQUENCE { certs SEQUENCE OF <certificate identifier>,
//                policies SEQUENCE OF PolicyInformation OPTIONAL }
template <typename Value>
static int EncodeCertsAndPolicies(Asn1Context *pctxt, Value *pvalue, Encoder<DList> encodeCerts,
                                  ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->m.policiesPresent) {
        if ((len = asn1E__SeqOfPolicyInformation(pctxt, &pvalue->policies, ASN1EXPL)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if ((len = encodeCerts(pctxt, &pvalue->certs, ASN1EXPL)) < 0) return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

template <typename Value>
static int DecodeCertsAndPolicies(Asn1Context *pctxt, Value *pvalue, Decoder<DList> decodeCerts,
                                  ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeRequired(pctxt, ccb, decodeCerts, &pvalue->certs)) < 0) return found;
    if ((found = DecodeOptional(pctxt, ccb, asn1D__SeqOfPolicyInformation, &pvalue->policies)) < 0)
        return found;
    pvalue->m.policiesPresent = found;
    return EndContents(pctxt, ccb);
}

// SigningCertificate ::= SEQUENCE {
//     certs     SEQUENCE OF ESSCertID,
//     policies  SEQUENCE OF PolicyInformation OPTIONAL }           -- RFC 2634, 5.4
int asn1E_SigningCertificate(Asn1Context *pctxt, SigningCertificate *pvalue, ASN1TagType tagging)
{
    return EncodeCertsAndPolicies(pctxt, pvalue, asn1E__SeqOfESSCertID, tagging);
}

int asn1D_SigningCertificate(Asn1Context *pctxt, SigningCertificate *pvalue, ASN1TagType tagging,
                             int length)
{
    return DecodeCertsAndPolicies(pctxt, pvalue, asn1D__SeqOfESSCertID, tagging, length);
}

// ESSCertIDv2 ::= SEQUENCE {
//     hashAlgorithm  AlgorithmIdentifier DEFAULT {algorithm id-sha256},
//     certHash       Hash,
//     issuerSerial   IssuerSerial OPTIONAL }                       -- RFC 5035
// The default travels as a presence bit: written exactly when the bit is set.
int asn1E_ESSCertIDv2(Asn1Context *pctxt, ESSCertIDv2 *pvalue, ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->m.issuerSerialPresent) {
        if ((len = asn1E_IssuerSerial(pctxt, &pvalue->issuerSerial, ASN1EXPL)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if ((len = asn1E_CertHash(pctxt, &pvalue->certHash, ASN1EXPL)) < 0) return Fail(pctxt, len);
    total += len;
    if (pvalue->m.hashAlgorithmPresent) {
        if ((len = asn1E_AlgorithmIdentifier(pctxt, &pvalue->hashAlgorithm, ASN1EXPL)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_ESSCertIDv2(Asn1Context *pctxt, ESSCertIDv2 *pvalue, ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeOptional(pctxt, ccb, asn1D_AlgorithmIdentifier, &pvalue->hashAlgorithm)) < 0)
        return found;
    pvalue->m.hashAlgorithmPresent = found;
    if ((found = DecodeRequired(pctxt, ccb, asn1D_CertHash, &pvalue->certHash)) < 0) return found;
    if ((found = DecodeOptional(pctxt, ccb, asn1D_IssuerSerial, &pvalue->issuerSerial)) < 0)
        return found;
    pvalue->m.issuerSerialPresent = found;
    return EndContents(pctxt, ccb);
}

int asn1E__SeqOfESSCertIDv2(Asn1Context *pctxt, _SeqOfESSCertIDv2 *pvalue, ASN1TagType tagging)
{
    return EncodeSequenceOf(pctxt, asn1E_ESSCertIDv2, pvalue, tagging);
}

int asn1D__SeqOfESSCertIDv2(Asn1Context *pctxt, _SeqOfESSCertIDv2 *pvalue, ASN1TagType tagging,
                            int length)
{
    return DecodeList(pctxt, ASN_ID_SEQ, tagging, length, asn1D_ESSCertIDv2, pvalue);
}

// SigningCertificateV2 ::= SEQUENCE {
//     certs     SEQUENCE OF ESSCertIDv2,
//     policies  SEQUENCE OF PolicyInformation OPTIONAL }           -- RFC 5035
int asn1E_SigningCertificateV2(Asn1Context *pctxt, SigningCertificateV2 *pvalue,
                               ASN1TagType tagging)
{
    return EncodeCertsAndPolicies(pctxt, pvalue, asn1E__SeqOfESSCertIDv2, tagging);
}

int asn1D_SigningCertificateV2(Asn1Context *pctxt, SigningCertificateV2 *pvalue,
                               ASN1TagType tagging, int length)
{
    return DecodeCertsAndPolicies(pctxt, pvalue, asn1D__SeqOfESSCertIDv2, tagging, length);
}

// OtherHashAlgAndValue ::= SEQUENCE {
//     hashAlgorithm  AlgorithmIdentifier,
//     hashValue      OtherHashValue }                             -- RFC 5126
int asn1E_OtherHashAlgAndValue(Asn1Context *pctxt, OtherHashAlgAndValue *pvalue,
                               ASN1TagType tagging)
{
    int total = 0, len;
    if ((len = asn1E_OtherHashValue(pctxt, &pvalue->hashValue, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    if ((len = asn1E_AlgorithmIdentifier(pctxt, &pvalue->hashAlgorithm, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_OtherHashAlgAndValue(Asn1Context *pctxt, OtherHashAlgAndValue *pvalue,
                               ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int stat;
    if ((stat = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return stat;
    if ((stat = DecodeRequired(pctxt, ccb, asn1D_AlgorithmIdentifier, &pvalue->hashAlgorithm)) < 0)
        return stat;
    if ((stat = DecodeRequired(pctxt, ccb, asn1D_OtherHashValue, &pvalue->hashValue)) < 0)
        return stat;
    return EndContents(pctxt, ccb);
}

// OtherHash ::= CHOICE {
//     sha1Hash   OtherHashValue,        -- SHA-1 hash of the certificate
//     otherHash  OtherHashAlgAndValue }                            -- RFC 5126
int asn1E_OtherHash(Asn1Context *pctxt, OtherHash *pvalue, ASN1TagType)
{
    switch (pvalue->t) {
    case T_OtherHash_sha1Hash:
        return EncodeAlternative(pctxt, asn1E_OtherHashValue, pvalue->u.sha1Hash);
    case T_OtherHash_otherHash:
        return EncodeAlternative(pctxt, asn1E_OtherHashAlgAndValue, pvalue->u.otherHash);
    default:
        return Fail(pctxt, ASN_E_INVOPT);
    }
}

int asn1D_OtherHash(Asn1Context *pctxt, OtherHash *pvalue, ASN1TagType, int)
{
    ASN1TAG tag = 0;
    int len = 0, stat;
    if ((stat = ReadChoiceTag(pctxt, &tag, &len)) < 0) return stat;
    ASN1UINT t;
    switch (tag) {
    case TM_UNIV | ASN_ID_OCTSTR:
        t = T_OtherHash_sha1Hash;
        stat = DecodeAlternative(pctxt, &pvalue->u.sha1Hash, asn1D_OtherHashValue, len);
        break;
    case kSequence:
        t = T_OtherHash_otherHash;
        stat = DecodeAlternative(pctxt, &pvalue->u.otherHash, asn1D_OtherHashAlgAndValue, len);
        break;
    default:
        return UnknownAlternative(pctxt, tag);
    }
    if (stat < 0) return stat;
    pvalue->t = t;
    return 0;
}

// OtherCertID ::= SEQUENCE {
//     otherCertHash  OtherHash,
//     issuerSerial   IssuerSerial OPTIONAL }                       -- RFC 5126
int asn1E_OtherCertID(Asn1Context *pctxt, OtherCertID *pvalue, ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->m.issuerSerialPresent) {
        if ((len = asn1E_IssuerSerial(pctxt, &pvalue->issuerSerial, ASN1EXPL)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if ((len = asn1E_OtherHash(pctxt, &pvalue->otherCertHash, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_OtherCertID(Asn1Context *pctxt, OtherCertID *pvalue, ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeRequired(pctxt, ccb, asn1D_OtherHash, &pvalue->otherCertHash)) < 0)
        return found;
    if ((found = DecodeOptional(pctxt, ccb, asn1D_IssuerSerial, &pvalue->issuerSerial)) < 0)
        return found;
    pvalue->m.issuerSerialPresent = found;
    return EndContents(pctxt, ccb);
}

int asn1E__SeqOfOtherCertID(Asn1Context *pctxt, _SeqOfOtherCertID *pvalue, ASN1TagType tagging)
{
    return EncodeSequenceOf(pctxt, asn1E_OtherCertID, pvalue, tagging);
}

int asn1D__SeqOfOtherCertID(Asn1Context *pctxt, _SeqOfOtherCertID *pvalue, ASN1TagType tagging,
                            int length)
{
    return DecodeList(pctxt, ASN_ID_SEQ, tagging, length, asn1D_OtherCertID, pvalue);
}

// OtherSigningCertificate ::= SEQUENCE {
//     certs     SEQUENCE OF OtherCertID,
//     policies  SEQUENCE OF PolicyInformation OPTIONAL }          -- RFC 3126
int asn1E_OtherSigningCertificate(Asn1Context *pctxt, OtherSigningCertificate *pvalue,
                                  ASN1TagType tagging)
{
    return EncodeCertsAndPolicies(pctxt, pvalue, asn1E__SeqOfOtherCertID, tagging);
}

int asn1D_OtherSigningCertificate(Asn1Context *pctxt, OtherSigningCertificate *pvalue,
                                  ASN1TagType tagging, int length)
{
    return DecodeCertsAndPolicies(pctxt, pvalue, asn1D__SeqOfOtherCertID, tagging, length);
}

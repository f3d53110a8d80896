#include "codecs/EssHelpers.h"
#include "frame/Trace.h"

#include <cstring>

using namespace ess;

namespace {

// X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, as the host's own codecs are asked.
constexpr DWORD kHostEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Dotted text into an OID value; a null text is no OID either. Traced at the site of the
// function that converts.
BOOL StrToOid(TraceSite site, const char *text, ASN1OBJID *oid)
{
    if (!text || !rtStrToOid(text, oid))
        return KV_FAIL_AT(site, CRYPT_E_ASN1_ERROR, "rtStrToOid() failed");
    return TRUE;
}

// The dotted OID and its NUL, written only when there is a block.
BOOL ObjectIdentifier_Layout(const ASN1OBJID &oid, LPSTR *ppszText, FlatCursor *cursor)
{
    const size_t cbText = rtOidToStrLen(&oid) + 1;
    auto *pszText = reinterpret_cast<char *>(cursor->TakeToWrite(cbText)); // text and NUL fill it
    if (pszText && !rtOidToStr(&oid, pszText, cbText))
        return KV_FAIL_AT(cursor->site, CRYPT_E_ASN1_ERROR, "rtOidToStr() failed");
    *ppszText = pszText;
    return TRUE;
}

// The qualifiers of one policy: a list exactly when it is present and not empty.
const DList *QualifiersOf(const PolicyInformation &policy)
{
    return policy.m.policyQualifiersPresent && policy.policyQualifiers.count
               ? &policy.policyQualifiers
               : nullptr;
}

BOOL FillPolicyQualifierInfo(TraceSite site, Asn1Context *ctx,
                             const CERT_POLICY_QUALIFIER_INFO &given, DList *qualifiers)
{
    auto *qualifier = NewListElement<PolicyQualifierInfo>(site, ctx);
    if (!qualifier || !StrToOid(site, given.pszPolicyQualifierId, &qualifier->policyQualifierId))
        return FALSE;
    if (given.Qualifier.cbData) {
        if (!given.Qualifier.pbData)
            return KV_FAIL_AT(site, ERROR_INVALID_PARAMETER,
                              "Malformed CERT_POLICY_QUALIFIER_INFO");
        qualifier->m.qualifierPresent = 1;
        qualifier->qualifier = {given.Qualifier.cbData, given.Qualifier.pbData};
    }
    rtDListAppendNode(ctx, qualifiers, qualifier);
    return TRUE;
}

BOOL FillPolicyInformation(TraceSite site, Asn1Context *ctx, const CERT_POLICY_INFO &given,
                           DList *policies)
{
    auto *policy = NewListElement<PolicyInformation>(site, ctx);
    if (!policy || !StrToOid(site, given.pszPolicyIdentifier, &policy->policyIdentifier))
        return FALSE;
    if (given.cPolicyQualifier) {
        if (!given.rgPolicyQualifier)
            return KV_FAIL_AT(site, ERROR_INVALID_PARAMETER, "Malformed CERT_POLICY_INFO");
        policy->m.policyQualifiersPresent = 1;
        rtDListInit(&policy->policyQualifiers);
        for (DWORD i = 0; i < given.cPolicyQualifier; ++i)
            if (!FillPolicyQualifierInfo(site, ctx, given.rgPolicyQualifier[i],
                                         &policy->policyQualifiers))
                return FALSE;
    }
    rtDListAppendNode(ctx, policies, policy);
    return TRUE;
}

// Identifier, then the qualifier's encoding when present.
BOOL PolicyQualifierInfo_Layout(const PolicyQualifierInfo &qualifier,
                                CERT_POLICY_QUALIFIER_INFO *pQualifier, FlatCursor *cursor)
{
    if (!ObjectIdentifier_Layout(qualifier.policyQualifierId, &pQualifier->pszPolicyQualifierId,
                                 cursor))
        return FALSE;
    if (qualifier.m.qualifierPresent)
        cursor->CopyBlob(qualifier.qualifier.data, qualifier.qualifier.numocts,
                         &pQualifier->Qualifier);
    return TRUE;
}

// Identifier, then the qualifier array on its structure's alignment, then each qualifier.
BOOL PolicyInformation_Layout(const PolicyInformation &policy, CERT_POLICY_INFO *pPolicy,
                              FlatCursor *cursor)
{
    if (!ObjectIdentifier_Layout(policy.policyIdentifier, &pPolicy->pszPolicyIdentifier, cursor))
        return FALSE;
    const DList *qualifiers = QualifiersOf(policy);
    if (!qualifiers) return TRUE;
    auto *rgQualifiers = cursor->Take<CERT_POLICY_QUALIFIER_INFO>(qualifiers->count);
    pPolicy->cPolicyQualifier = qualifiers->count;
    pPolicy->rgPolicyQualifier = rgQualifiers;
    CERT_POLICY_QUALIFIER_INFO scratch{};
    return ForEachElement<const PolicyQualifierInfo>(
        *qualifiers, [&](const PolicyQualifierInfo *each, DWORD index) {
            return PolicyQualifierInfo_Layout(*each, &ElementOr(rgQualifiers, index, scratch),
                                              cursor);
        });
}

// Issuer: the caller's Name DER, decoded so that the encoder can wrap it as a directoryName.
BOOL FillIssuerName(TraceSite site, Asn1Context *ctx, const CERT_NAME_BLOB &issuer,
                    GeneralNames *issuerNames)
{
    auto *name = ContextNew<Name>(site, ctx, "ALLOC_ASN1ELEM() failed");
    if (!name || !Asn1cObjectDecode(ctx, issuer.pbData, issuer.cbData, name, DecodeAs<asn1D_Name>))
        return FALSE;
    auto *generalName = static_cast<GeneralName *>(rtDListNewNodeAndData(ctx, sizeof(GeneralName)));
    if (!generalName) return KV_FAIL_AT(site, NTE_NO_MEMORY, "ALLOC_ASN1ELEM() failed");
    generalName->t = T_GeneralName_directoryName;
    generalName->u.directoryName = name;
    rtDListInit(issuerNames);
    rtDListAppendNode(ctx, issuerNames, generalName);
    return TRUE;
}

// The serial number goes through the host's own integer codec, so its byte order and sign
// handling are the host's and not ours.
BOOL FillSerialNumber(Asn1Context *ctx, const CRYPT_INTEGER_BLOB &serial,
                      CertificateSerialNumber *serialNumber)
{
    BYTE *pbDer = nullptr;
    DWORD cbDer = 0;
    return CryptEncodeObjectContextAlloc(ctx, kHostEncoding, X509_MULTI_BYTE_INTEGER, &serial,
                                         &pbDer, &cbDer) &&
           Asn1cObjectDecode(ctx, pbDer, cbDer, serialNumber,
                             DecodeAs<asn1D_CertificateSerialNumber>);
}

BOOL DecodeSerialNumber(Asn1Context *ctx, CertificateSerialNumber *serialNumber,
                        CRYPT_INTEGER_BLOB *pSerial)
{
    DWORD cbDer = 0;
    void *pvSerial = nullptr;
    if (!Asn1cObjectEncode(ctx, serialNumber, EncodeAs<asn1E_CertificateSerialNumber>, &cbDer) ||
        !CryptDecodeObjectContextAlloc(ctx, kHostEncoding, X509_MULTI_BYTE_INTEGER, xe_getp(ctx),
                                       cbDer, 0, &pvSerial))
        return FALSE;
    *pSerial = *static_cast<const CRYPT_INTEGER_BLOB *>(pvSerial);
    return TRUE;
}

} // namespace

// ------------------------------------------------------------------ AlgorithmIdentifier

BOOL AlgorithmIdentifier_FillAsn1cObject(Asn1Context *, const CRYPT_ALGORITHM_IDENTIFIER *pAlg,
                                         AlgorithmIdentifier *value)
{
    if (!StrToOid(KV_HERE, pAlg->pszObjId, &value->algorithm)) return FALSE;
    if (!pAlg->Parameters.cbData) return TRUE; // no parameters at all, not even a NULL
    if (!pAlg->Parameters.pbData)
        return KV_FAIL(ERROR_INVALID_PARAMETER, "Malformed CRYPT_ALGORITHM_IDENTIFIER");
    value->m.parametersPresent = 1;
    value->parameters = {pAlg->Parameters.cbData, pAlg->Parameters.pbData};
    return TRUE;
}

BOOL AlgorithmIdentifier_Layout(const AlgorithmIdentifier *value, CRYPT_ALGORITHM_IDENTIFIER *pAlg,
                                FlatCursor *cursor)
{
    if (!ObjectIdentifier_Layout(value->algorithm, &pAlg->pszObjId, cursor)) return FALSE;
    if (value->m.parametersPresent)
        cursor->CopyBlob(value->parameters.data, value->parameters.numocts, &pAlg->Parameters);
    return TRUE;
}

// ------------------------------------------------------------------ OCTET STRING

void ASN1DynOctStr_FillAsn1cObject(const CRYPT_DATA_BLOB *pBlob, ASN1DynOctStr *value)
{
    value->numocts = pBlob->cbData;
    value->data = pBlob->pbData;
}

void ASN1DynOctStr_Layout(const ASN1DynOctStr *value, CRYPT_DATA_BLOB *pBlob, FlatCursor *cursor)
{
    cursor->CopyBlob(value->data, value->numocts, pBlob);
}

// ------------------------------------------------------------------ IssuerSerial

// IssuerSerial ::= SEQUENCE {
//     issuer        GeneralNames,
//     serialNumber  CertificateSerialNumber,
//     issuerUID     UniqueIdentifier OPTIONAL }                    -- RFC 2634, 5.4.1
BOOL IssuerSerial_FillAsn1cObject(Asn1Context *ctx, const KVCMSG_ISSUER_SERIAL *pIssuerSerial,
                                  IssuerSerial *value)
{
    const CERT_NAME_BLOB &issuer = pIssuerSerial->Issuer;
    const CRYPT_INTEGER_BLOB &serial = pIssuerSerial->SerialNumber;
    if (!serial.cbData || !serial.pbData || !issuer.pbData)
        return KV_FAIL(ERROR_INVALID_PARAMETER, "Invalid IssuerSerial");
    return FillIssuerName(KV_HERE, ctx, issuer, &value->issuer) &&
           FillSerialNumber(ctx, serial, &value->serialNumber); // issuerUID stays absent
}

// The one directoryName of the issuer DER-encoded again, then the serial number through the
// host's integer codec; a present issuerUID is not passed on.
BOOL IssuerSerial_Layout(Asn1Context *ctx, IssuerSerial *value, KVCMSG_ISSUER_SERIAL *pIssuerSerial,
                         FlatCursor *cursor)
{
    if (value->issuer.count != 1)
        return KV_FAIL_AT(cursor->site, CRYPT_E_ISSUER_SERIALNUMBER,
                          "Zero or multiple GeneralNames");
    const auto *generalName = static_cast<const GeneralName *>(value->issuer.head->data);
    if (generalName->t != T_GeneralName_directoryName)
        return KV_FAIL_AT(cursor->site, CRYPT_E_ISSUER_SERIALNUMBER,
                          "GeneralName is not directoryName");
    CERT_NAME_BLOB issuer{};
    CRYPT_INTEGER_BLOB serial{};
    if (!Asn1cObjectEncodeContextAlloc(ctx, generalName->u.directoryName, EncodeAs<asn1E_Name>,
                                       &issuer.pbData, &issuer.cbData) ||
        !DecodeSerialNumber(ctx, &value->serialNumber, &serial))
        return FALSE;
    cursor->CopyBlob(issuer.pbData, issuer.cbData, &pIssuerSerial->Issuer);
    cursor->CopyBlob(serial.pbData, serial.cbData, &pIssuerSerial->SerialNumber);
    return TRUE;
}

// ------------------------------------------------------------------ SEQUENCE OF PolicyInformation

// PolicyInformation ::= SEQUENCE {
//     policyIdentifier   CertPolicyId,
//     policyQualifiers   SEQUENCE SIZE (1..MAX) OF PolicyQualifierInfo OPTIONAL }
// PolicyQualifierInfo ::= SEQUENCE {
//     policyQualifierId  PolicyQualifierId,
//     qualifier          ANY DEFINED BY policyQualifierId }         -- RFC 5280, 4.2.1.4
BOOL SeqOfPolicyInformation_FillAsn1cObject(Asn1Context *ctx, const CERT_POLICY_INFO *rgPolicies,
                                            DWORD cPolicies, DList *value)
{
    rtDListInit(value);
    for (DWORD i = 0; i < cPolicies; ++i)
        if (!FillPolicyInformation(KV_HERE, ctx, rgPolicies[i], value)) return FALSE;
    return TRUE;
}

BOOL SeqOfPolicyInformation_Layout(const DList *value, CERT_POLICY_INFO *rgPolicies,
                                   FlatCursor *cursor)
{
    CERT_POLICY_INFO scratch{};
    return ForEachElement<const PolicyInformation>(*value, [&](const PolicyInformation *policy,
                                                               DWORD index) {
        return PolicyInformation_Layout(*policy, &ElementOr(rgPolicies, index, scratch), cursor);
    });
}

// ------------------------------------------------------------------ shared by the three codecs

namespace ess {

BOOL CheckCountedArrays(TraceSite site, const char *message, DWORD cCerts, const void *rgCerts,
                        DWORD cPolicies, const void *rgPolicies)
{
    if ((cCerts && !rgCerts) || (cPolicies && !rgPolicies))
        return KV_FAIL_AT(site, ERROR_INVALID_PARAMETER, "%s", message);
    return TRUE;
}

} // namespace ess

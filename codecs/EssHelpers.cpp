#include "codecs/EssHelpers.h"
#include "frame/Trace.h"

#include <cstring>

using namespace ess;

namespace {

// X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, as the host's own codecs are asked.
constexpr DWORD kHostEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr ASN1UINT kDirectoryName = 5; // GeneralName alternative [4]

template <typename T> T *PlaceAt(BYTE *cursor)
{
    return static_cast<T *>(static_cast<void *>(cursor));
}

// Dotted text into an OID value; a null text is no OID either.
BOOL StrToOid(const char *text, ASN1OBJID *oid)
{
    if (!text || !rtStrToOid(text, oid)) {
        KV_TRACE_ERROR("rtStrToOid() failed");
        return FailWith(CRYPT_E_ASN1_ERROR);
    }
    return TRUE;
}

size_t OidTextSize(const ASN1OBJID &oid)
{
    return rtOidToStrLen(&oid) + 1;
}

// The dotted OID and its NUL at the cursor.
BOOL OidToCursor(const ASN1OBJID &oid, LPSTR *ppszText, BYTE **ppbCursor)
{
    const size_t cbText = OidTextSize(oid);
    auto *pszText = reinterpret_cast<char *>(*ppbCursor);
    if (!rtOidToStr(&oid, pszText, cbText)) {
        KV_TRACE_ERROR("rtOidToStr() failed");
        return FailWith(CRYPT_E_ASN1_ERROR);
    }
    *ppszText = pszText;
    *ppbCursor += cbText;
    return TRUE;
}

// A qualifier array follows a string, so it is placed on its structure's alignment, counted
// from the start of the block in both steps, whatever address the caller's block has. The
// rgPolicies array sits at an offset that is a multiple of that alignment (the structure and
// the certificate identifiers before it need at least as much), so the fill step counts from
// there.
constexpr size_t kQualifierAlignment = alignof(CERT_POLICY_QUALIFIER_INFO);
static_assert(alignof(KVCMSG_SIGNING_CERTIFICATE) >= kQualifierAlignment);
static_assert(alignof(KVCMSG_SIGNING_CERTIFICATEV2) >= kQualifierAlignment);
static_assert(alignof(KVCMSG_OTHER_SIGNING_CERTIFICATE) >= kQualifierAlignment);
static_assert(alignof(KVCMSG_ESS_CERT_ID) >= kQualifierAlignment);
static_assert(alignof(KVCMSG_ESS_CERT_ID_V2) >= kQualifierAlignment);
static_assert(alignof(KVCMSG_OTHER_CERT_ID) >= kQualifierAlignment);

constexpr size_t AlignUp(size_t offset)
{
    return (offset + kQualifierAlignment - 1) & ~(kQualifierAlignment - 1);
}

// `cursor` rounded as its offset from `base` (the rgPolicies array) rounds.
BYTE *AlignUp(const BYTE *base, BYTE *cursor)
{
    const auto offset = static_cast<size_t>(cursor - base);
    return cursor + (AlignUp(offset) - offset);
}

// The qualifiers of one policy: a list exactly when it is present and not empty.
const DList *QualifiersOf(const PolicyInformation &policy)
{
    return policy.m.policyQualifiersPresent && policy.policyQualifiers.count
               ? &policy.policyQualifiers
               : nullptr;
}

BOOL FillPolicyQualifierInfo(Asn1Context *ctx, const CERT_POLICY_QUALIFIER_INFO &given,
                             DList *qualifiers)
{
    auto *qualifier = NewListElement<PolicyQualifierInfo>(ctx, __func__);
    if (!qualifier || !StrToOid(given.pszPolicyQualifierId, &qualifier->policyQualifierId))
        return FALSE;
    if (given.Qualifier.cbData) {
        if (!given.Qualifier.pbData) {
            KV_TRACE_ERROR("Malformed CERT_POLICY_QUALIFIER_INFO");
            return FailWith(ERROR_INVALID_PARAMETER);
        }
        qualifier->m.qualifierPresent = 1;
        qualifier->qualifier = {given.Qualifier.cbData, given.Qualifier.pbData};
    }
    AppendListElement(ctx, qualifiers, qualifier);
    return TRUE;
}

BOOL FillPolicyInformation(Asn1Context *ctx, const CERT_POLICY_INFO &given, DList *policies)
{
    auto *policy = NewListElement<PolicyInformation>(ctx, __func__);
    if (!policy || !StrToOid(given.pszPolicyIdentifier, &policy->policyIdentifier)) return FALSE;
    if (given.cPolicyQualifier) {
        if (!given.rgPolicyQualifier) {
            KV_TRACE_ERROR("Malformed CERT_POLICY_INFO");
            return FailWith(ERROR_INVALID_PARAMETER);
        }
        policy->m.policyQualifiersPresent = 1;
        rtDListInit(&policy->policyQualifiers);
        for (DWORD i = 0; i < given.cPolicyQualifier; ++i)
            if (!FillPolicyQualifierInfo(ctx, given.rgPolicyQualifier[i],
                                         &policy->policyQualifiers))
                return FALSE;
    }
    AppendListElement(ctx, policies, policy);
    return TRUE;
}

void SizePolicyQualifierInfo(const PolicyQualifierInfo &qualifier, size_t *pcbNeeded)
{
    *pcbNeeded += OidTextSize(qualifier.policyQualifierId);
    if (qualifier.m.qualifierPresent) *pcbNeeded += qualifier.qualifier.numocts;
}

void SizePolicyInformation(const PolicyInformation &policy, size_t *pcbNeeded)
{
    *pcbNeeded += OidTextSize(policy.policyIdentifier);
    const DList *qualifiers = QualifiersOf(policy);
    if (!qualifiers) return;
    *pcbNeeded = AlignUp(*pcbNeeded) + qualifiers->count * sizeof(CERT_POLICY_QUALIFIER_INFO);
    ForEachElement<const PolicyQualifierInfo>(*qualifiers,
                                              [&](const PolicyQualifierInfo *each, DWORD) {
                                                  SizePolicyQualifierInfo(*each, pcbNeeded);
                                                  return TRUE;
                                              });
}

BOOL FillPolicyQualifierBuffer(const PolicyQualifierInfo &qualifier,
                               CERT_POLICY_QUALIFIER_INFO *pQualifier, BYTE **ppbCursor)
{
    if (!OidToCursor(qualifier.policyQualifierId, &pQualifier->pszPolicyQualifierId, ppbCursor))
        return FALSE;
    if (qualifier.m.qualifierPresent)
        CopyBlobToCursor(qualifier.qualifier.data, qualifier.qualifier.numocts,
                         &pQualifier->Qualifier, ppbCursor);
    else
        pQualifier->Qualifier = {0, nullptr};
    return TRUE;
}

// The qualifier array (zeroed), then each qualifier's identifier and encoding.
BOOL FillPolicyQualifiersBuffer(const DList &qualifiers, const BYTE *base,
                                CERT_POLICY_INFO *pPolicy, BYTE **ppbCursor)
{
    *ppbCursor = AlignUp(base, *ppbCursor);
    auto *rgQualifiers = PlaceAt<CERT_POLICY_QUALIFIER_INFO>(*ppbCursor);
    const size_t cbArray = qualifiers.count * sizeof(CERT_POLICY_QUALIFIER_INFO);
    std::memset(rgQualifiers, 0, cbArray);
    *ppbCursor += cbArray;
    pPolicy->cPolicyQualifier = qualifiers.count;
    pPolicy->rgPolicyQualifier = rgQualifiers;
    return ForEachElement<const PolicyQualifierInfo>(
        qualifiers, [&](const PolicyQualifierInfo *each, DWORD index) {
            return FillPolicyQualifierBuffer(*each, &rgQualifiers[index], ppbCursor);
        });
}

BOOL FillPolicyBuffer(const PolicyInformation &policy, const BYTE *base, CERT_POLICY_INFO *pPolicy,
                      BYTE **ppbCursor)
{
    if (!OidToCursor(policy.policyIdentifier, &pPolicy->pszPolicyIdentifier, ppbCursor))
        return FALSE;
    pPolicy->cPolicyQualifier = 0;
    pPolicy->rgPolicyQualifier = nullptr;
    const DList *qualifiers = QualifiersOf(policy);
    return !qualifiers || FillPolicyQualifiersBuffer(*qualifiers, base, pPolicy, ppbCursor);
}

// Issuer: the caller's Name DER, decoded so that the encoder can wrap it as a directoryName.
BOOL FillIssuerName(Asn1Context *ctx, const CERT_NAME_BLOB &issuer, GeneralNames *issuerNames)
{
    auto *name = static_cast<Name *>(ASN1MALLOCZ(ctx, sizeof(Name)));
    if (!name) {
        KV_TRACE_ERROR("ALLOC_ASN1ELEM() failed");
        return FailWith(NTE_NO_MEMORY);
    }
    if (!Asn1cObjectDecode(ctx, issuer.pbData, issuer.cbData, name, DecodeAs<asn1D_Name>))
        return FALSE;
    auto *generalName = static_cast<GeneralName *>(rtDListNewNodeAndData(ctx, sizeof(GeneralName)));
    if (!generalName) {
        KV_TRACE_ERROR("ALLOC_ASN1ELEM() failed");
        return FailWith(NTE_NO_MEMORY);
    }
    generalName->t = kDirectoryName;
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

// The one directoryName of a decoded issuer, DER-encoded again into context memory.
BOOL EncodeIssuerName(Asn1Context *ctx, const GeneralNames &issuerNames, CERT_NAME_BLOB *pIssuer)
{
    if (issuerNames.count != 1) {
        KV_TRACE_ERROR("Zero or multiple GeneralNames");
        return FailWith(CRYPT_E_ISSUER_SERIALNUMBER);
    }
    const auto *generalName = static_cast<const GeneralName *>(issuerNames.head->data);
    if (generalName->t != kDirectoryName) {
        KV_TRACE_ERROR("GeneralName is not directoryName");
        return FailWith(CRYPT_E_ISSUER_SERIALNUMBER);
    }
    return Asn1cObjectEncodeContextAlloc(ctx, generalName->u.directoryName, EncodeAs<asn1E_Name>,
                                         &pIssuer->pbData, &pIssuer->cbData);
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
    if (!StrToOid(pAlg->pszObjId, &value->algorithm)) return FALSE;
    if (!pAlg->Parameters.cbData) return TRUE; // no parameters at all, not even a NULL
    if (!pAlg->Parameters.pbData) {
        KV_TRACE_ERROR("Malformed CRYPT_ALGORITHM_IDENTIFIER");
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    value->m.parametersPresent = 1;
    value->parameters = {pAlg->Parameters.cbData, pAlg->Parameters.pbData};
    return TRUE;
}

void AlgorithmIdentifier_GetBufferSize(Asn1Context *, const AlgorithmIdentifier *value,
                                       size_t *pcbNeeded)
{
    *pcbNeeded += OidTextSize(value->algorithm);
    if (value->m.parametersPresent) *pcbNeeded += value->parameters.numocts;
}

BOOL AlgorithmIdentifier_FillBuffer(const AlgorithmIdentifier *value,
                                    CRYPT_ALGORITHM_IDENTIFIER *pAlg, BYTE **ppbCursor)
{
    if (!OidToCursor(value->algorithm, &pAlg->pszObjId, ppbCursor)) return FALSE;
    if (value->m.parametersPresent)
        CopyBlobToCursor(value->parameters.data, value->parameters.numocts, &pAlg->Parameters,
                         ppbCursor);
    else
        pAlg->Parameters = {0, nullptr};
    return TRUE;
}

// ------------------------------------------------------------------ OCTET STRING

void ASN1DynOctStr_FillAsn1cObject(const CRYPT_DATA_BLOB *pBlob, ASN1DynOctStr *value)
{
    value->numocts = pBlob->cbData;
    value->data = pBlob->pbData;
}

void ASN1DynOctStr_FillBuffer(const ASN1DynOctStr *value, CRYPT_DATA_BLOB *pBlob, BYTE **ppbCursor)
{
    CopyBlobToCursor(value->data, value->numocts, pBlob, ppbCursor);
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
    if (!serial.cbData || !serial.pbData || !issuer.pbData) {
        KV_TRACE_ERROR("Invalid IssuerSerial");
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    return FillIssuerName(ctx, issuer, &value->issuer) &&
           FillSerialNumber(ctx, serial, &value->serialNumber); // issuerUID stays absent
}

BOOL IssuerSerial_GetBufferSize(Asn1Context *ctx, IssuerSerial *value, size_t *pcbNeeded,
                                KVCMSG_ISSUER_SERIAL *pRecord)
{
    if (!EncodeIssuerName(ctx, value->issuer, &pRecord->Issuer) ||
        !DecodeSerialNumber(ctx, &value->serialNumber, &pRecord->SerialNumber))
        return FALSE;
    *pcbNeeded += size_t{pRecord->Issuer.cbData} + pRecord->SerialNumber.cbData;
    return TRUE; // a present issuerUID is not passed on
}

void IssuerSerial_FillBuffer(const KVCMSG_ISSUER_SERIAL *pRecord,
                             KVCMSG_ISSUER_SERIAL *pIssuerSerial, BYTE **ppbCursor)
{
    CopyBlobToCursor(pRecord->Issuer.pbData, pRecord->Issuer.cbData, &pIssuerSerial->Issuer,
                     ppbCursor);
    CopyBlobToCursor(pRecord->SerialNumber.pbData, pRecord->SerialNumber.cbData,
                     &pIssuerSerial->SerialNumber, ppbCursor);
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
        if (!FillPolicyInformation(ctx, rgPolicies[i], value)) return FALSE;
    return TRUE;
}

void SeqOfPolicyInformation_GetBufferSize(Asn1Context *, const DList *value, size_t *pcbNeeded)
{
    ForEachElement<const PolicyInformation>(*value, [&](const PolicyInformation *policy, DWORD) {
        SizePolicyInformation(*policy, pcbNeeded);
        return TRUE;
    });
}

BOOL SeqOfPolicyInformation_FillBuffer(const DList *value, CERT_POLICY_INFO *rgPolicies,
                                       BYTE **ppbCursor)
{
    const auto *base = reinterpret_cast<const BYTE *>(rgPolicies);
    return ForEachElement<const PolicyInformation>(
        *value, [&](const PolicyInformation *policy, DWORD index) {
            return FillPolicyBuffer(*policy, base, &rgPolicies[index], ppbCursor);
        });
}

// ------------------------------------------------------------------ shared by the three codecs

namespace ess {

void *NewListElement(Asn1Context *ctx, size_t cbElement, const char *function)
{
    void *element = rtDListNewNodeAndData(ctx, cbElement);
    if (!element) {
        KV_TRACE_ERROR_IN(function, "ALLOC_ASN1ELEMDNODE() failed");
        SetLastError(NTE_NO_MEMORY);
    }
    return element;
}

void AppendListElement(Asn1Context *ctx, DList *list, void *element)
{
    rtDListAppendNode(ctx, list, element); // the node came with the element: nothing to fail
}

void CopyBlobToCursor(const BYTE *pb, DWORD cb, CRYPT_DATA_BLOB *pBlob, BYTE **ppbCursor)
{
    if (!cb) {
        *pBlob = {0, nullptr};
        return;
    }
    std::memcpy(*ppbCursor, pb, cb);
    *pBlob = {cb, *ppbCursor};
    *ppbCursor += cb;
}

BOOL CheckCountedArrays(const char *function, const char *message, DWORD cCerts,
                        const void *rgCerts, DWORD cPolicies, const void *rgPolicies)
{
    if ((cCerts && !rgCerts) || (cPolicies && !rgPolicies)) {
        KV_TRACE_ERROR_IN(function, "%s", message);
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    return TRUE;
}

KVCMSG_ISSUER_SERIAL *NewIssuerSerialRecords(Asn1Context *ctx, DWORD cCerts, const char *function)
{
    auto *records = static_cast<KVCMSG_ISSUER_SERIAL *>(
        ASN1MALLOCZ(ctx, size_t{cCerts} * sizeof(KVCMSG_ISSUER_SERIAL)));
    if (!records) {
        KV_TRACE_ERROR_IN(function, "ASN1MALLOC() failed");
        SetLastError(NTE_NO_MEMORY);
    }
    return records;
}

BYTE *LayFixedPart(void *pvBuffer, size_t cbStruct, size_t cbCertId, DWORD cCerts, DWORD cPolicies,
                   void **prgCerts, CERT_POLICY_INFO **prgPolicies)
{
    auto *cursor = static_cast<BYTE *>(pvBuffer);
    const size_t cbCerts = cCerts * cbCertId;
    const size_t cbPolicies = cPolicies * sizeof(CERT_POLICY_INFO);
    std::memset(cursor, 0, cbStruct + cbCerts + cbPolicies);
    cursor += cbStruct;
    *prgCerts = cCerts ? cursor : nullptr;
    cursor += cbCerts;
    *prgPolicies = cPolicies ? PlaceAt<CERT_POLICY_INFO>(cursor) : nullptr;
    return cursor + cbPolicies;
}

} // namespace ess

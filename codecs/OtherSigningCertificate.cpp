// OtherSigningCertificate ::= SEQUENCE {
//     certs     SEQUENCE OF OtherCertID,
//     policies  SEQUENCE OF PolicyInformation OPTIONAL }
// OtherCertID ::= SEQUENCE {
//     otherCertHash  OtherHash,
//     issuerSerial   IssuerSerial OPTIONAL }
// OtherHash ::= CHOICE {
//     sha1Hash   OtherHashValue,          -- SHA-1 of the certificate, no identifier
//     otherHash  OtherHashAlgAndValue }
// OtherHashAlgAndValue ::= SEQUENCE {
//     hashAlgorithm  AlgorithmIdentifier,
//     hashValue      OtherHashValue }                                -- RFC 3126
#include "codecs/EssHelpers.h"
#include "frame/EntryPoints.h"
#include "kvext/kvext.h"

#include <cstring>

using namespace ess;

namespace {

constexpr ASN1UINT kSha1HashChosen = 1;
constexpr ASN1UINT kOtherHashChosen = 2;

// Identifiers that take the bare sha1Hash form; it always decodes as plain SHA-1.
constexpr char kSha1[] = "1.3.14.3.2.26";
constexpr char kEcdsaWithSha1[] = "1.2.840.10045.4.1";

bool IsSha1(const char *pszObjId)
{
    return std::strcmp(pszObjId, kSha1) == 0 || std::strcmp(pszObjId, kEcdsaWithSha1) == 0;
}

template <typename T> T *NewChoiceElement(Asn1Context *ctx, const char *function)
{
    auto *element = static_cast<T *>(ASN1MALLOCZ(ctx, sizeof(T)));
    if (!element) {
        KV_TRACE_ERROR_IN(function, "ALLOC_ASN1ELEM() failed");
        SetLastError(NTE_NO_MEMORY);
    }
    return element;
}

// The bare hash for SHA-1 (its parameters go unread), the identified hash otherwise.
BOOL FillOtherHash(Asn1Context *ctx, const KVCMSG_OTHER_CERT_ID &given, OtherHash *otherHash)
{
    if (IsSha1(given.HashAlgorithm.pszObjId)) {
        auto *sha1Hash = NewChoiceElement<OtherHashValue>(ctx, __func__);
        if (!sha1Hash) return FALSE;
        ASN1DynOctStr_FillAsn1cObject(&given.CertHash, sha1Hash);
        otherHash->t = kSha1HashChosen;
        otherHash->u.sha1Hash = sha1Hash;
        return TRUE;
    }
    auto *algAndValue = NewChoiceElement<OtherHashAlgAndValue>(ctx, __func__);
    if (!algAndValue || !AlgorithmIdentifier_FillAsn1cObject(ctx, &given.HashAlgorithm,
                                                             &algAndValue->hashAlgorithm))
        return FALSE;
    ASN1DynOctStr_FillAsn1cObject(&given.CertHash, &algAndValue->hashValue);
    otherHash->t = kOtherHashChosen;
    otherHash->u.otherHash = algAndValue;
    return TRUE;
}

BOOL AppendOtherCertID(Asn1Context *ctx, const KVCMSG_OTHER_CERT_ID &given, DList *certs)
{
    if (!given.HashAlgorithm.pszObjId || (given.CertHash.cbData && !given.CertHash.pbData)) {
        KV_TRACE_ERROR("Malformed KVCMSG_OTHER_SIGNING_CERTIFICATE");
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    auto *certId = NewListElement<OtherCertID>(ctx, __func__);
    if (!certId || !FillOtherHash(ctx, given, &certId->otherCertHash) ||
        !FillIssuerSerialIfGiven(ctx, given.IssuerSerial, certId))
        return FALSE;
    AppendListElement(ctx, certs, certId);
    return TRUE;
}

// A decoded otherCertHash holds neither alternative.
BOOL RejectOtherHashChoice(const char *function)
{
    KV_TRACE_ERROR_IN(function, "Malformed OtherCertID");
    return FailWith(ERROR_INVALID_PARAMETER);
}

BOOL SizeOtherHash(Asn1Context *ctx, const OtherHash &otherHash, size_t *pcbNeeded)
{
    switch (otherHash.t) {
    case kSha1HashChosen:
        *pcbNeeded += sizeof kSha1 + otherHash.u.sha1Hash->numocts;
        return TRUE;
    case kOtherHashChosen:
        AlgorithmIdentifier_GetBufferSize(ctx, &otherHash.u.otherHash->hashAlgorithm, pcbNeeded);
        *pcbNeeded += otherHash.u.otherHash->hashValue.numocts;
        return TRUE;
    default:
        return RejectOtherHashChoice(__func__);
    }
}

BOOL FillOtherHashBuffer(const OtherHash &otherHash, KVCMSG_OTHER_CERT_ID *pCertId,
                         BYTE **ppbCursor)
{
    switch (otherHash.t) {
    case kSha1HashChosen:
        CopyAlgorithmToCursor(kSha1, &pCertId->HashAlgorithm, ppbCursor);
        ASN1DynOctStr_FillBuffer(otherHash.u.sha1Hash, &pCertId->CertHash, ppbCursor);
        return TRUE;
    case kOtherHashChosen:
        if (!AlgorithmIdentifier_FillBuffer(&otherHash.u.otherHash->hashAlgorithm,
                                            &pCertId->HashAlgorithm, ppbCursor))
            return FALSE;
        ASN1DynOctStr_FillBuffer(&otherHash.u.otherHash->hashValue, &pCertId->CertHash, ppbCursor);
        return TRUE;
    default:
        return RejectOtherHashChoice(__func__);
    }
}

// Hash algorithm, hash, issuer, serial number.
BOOL FillOtherCertIDBuffer(const OtherCertID &certId, const KVCMSG_ISSUER_SERIAL &record,
                           KVCMSG_OTHER_CERT_ID *pCertId, BYTE **ppbCursor)
{
    if (!FillOtherHashBuffer(certId.otherCertHash, pCertId, ppbCursor)) return FALSE;
    IssuerSerial_FillBuffer(&record, &pCertId->IssuerSerial, ppbCursor);
    return TRUE;
}

} // namespace

BOOL OtherSigningCertificate_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo,
                                             void *value)
{
    const auto *info = static_cast<const KVCMSG_OTHER_SIGNING_CERTIFICATE *>(pvStructInfo);
    auto *signingCert = static_cast<OtherSigningCertificate *>(value);
    if (!CheckCallerArrays(__func__, "Malformed KVCMSG_OTHER_SIGNING_CERTIFICATE", *info))
        return FALSE;
    rtDListInit(&signingCert->certs);
    for (DWORD i = 0; i < info->cCerts; ++i)
        if (!AppendOtherCertID(ctx, info->rgCerts[i], &signingCert->certs)) return FALSE;
    return FillPoliciesIfGiven(ctx, *info, signingCert);
}

// The structure, the two arrays, then per certificate its hash algorithm, hash, issuer and
// serial number, then the policies.
BOOL OtherSigningCertificate_GetBufferSize(Asn1Context *ctx, void *value, DWORD *pcbStructInfo,
                                           void **ppHandover)
{
    auto *signingCert = static_cast<OtherSigningCertificate *>(value);
    const DList *policies = PoliciesOf(signingCert);
    KVCMSG_ISSUER_SERIAL *records = NewIssuerSerialRecords(ctx, signingCert->certs.count, __func__);
    if (!records) return FALSE;
    size_t cbNeeded =
        FixedPartSize<KVCMSG_OTHER_SIGNING_CERTIFICATE>(signingCert->certs.count, policies->count);
    if (!ForEachElement<OtherCertID>(signingCert->certs, [&](OtherCertID *certId, DWORD index) {
            return SizeOtherHash(ctx, certId->otherCertHash, &cbNeeded) &&
                   SizeIssuerSerialIfPresent(ctx, certId, &cbNeeded, &records[index]);
        }))
        return FALSE;
    SeqOfPolicyInformation_GetBufferSize(ctx, policies, &cbNeeded);
    *ppHandover = records;
    return StoreFlatSize(__func__, cbNeeded, pcbStructInfo);
}

BOOL OtherSigningCertificate_FillBuffer(Asn1Context *, void *value, void *pvBuffer, DWORD cbBuffer,
                                        void **ppHandover)
{
    const auto *signingCert = static_cast<const OtherSigningCertificate *>(value);
    const DList *policies = PoliciesOf(signingCert);
    const auto *records = static_cast<const KVCMSG_ISSUER_SERIAL *>(*ppHandover);
    auto *info = static_cast<KVCMSG_OTHER_SIGNING_CERTIFICATE *>(pvBuffer);
    BYTE *cursor = LayFixedPart(info, signingCert->certs.count, policies->count);
    return ForEachElement<const OtherCertID>(signingCert->certs,
                                             [&](const OtherCertID *certId, DWORD index) {
                                                 return FillOtherCertIDBuffer(
                                                     *certId, records[index], &info->rgCerts[index],
                                                     &cursor);
                                             }) &&
           SeqOfPolicyInformation_FillBuffer(policies, info->rgPolicies, &cursor) &&
           CheckFilledSize(__func__, FilledSize(pvBuffer, cursor), cbBuffer);
}

KV_DEFINE_ENCODE_ENTRY_POINTS(OtherSigningCertificate, OtherSigningCertificate,
                              asn1E_OtherSigningCertificate,
                              OtherSigningCertificate_FillAsn1cObject)
KV_DEFINE_DECODE_ENTRY_POINTS(OtherSigningCertificate, OtherSigningCertificate,
                              asn1D_OtherSigningCertificate, OtherSigningCertificate_GetBufferSize,
                              OtherSigningCertificate_FillBuffer)

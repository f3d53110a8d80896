// SigningCertificateV2 ::= SEQUENCE {
//     certs     SEQUENCE OF ESSCertIDv2,
//     policies  SEQUENCE OF PolicyInformation OPTIONAL }
// ESSCertIDv2 ::= SEQUENCE {
//     hashAlgorithm  AlgorithmIdentifier DEFAULT {algorithm id-sha256},
//     certHash       Hash,
//     issuerSerial   IssuerSerial OPTIONAL }                        -- RFC 5035, 3 and 4
#include "codecs/EssHelpers.h"
#include "frame/EntryPoints.h"
#include "kvext/kvext.h"

#include <cstring>

using namespace ess;

namespace {

// id-sha256, the default hash algorithm: left out of the encoding, put back on decoding.
constexpr char kSha256[] = "2.16.840.1.101.3.4.2.1";

// The caller's identifier, or nothing when it is the default (its parameters go unread).
BOOL FillHashAlgorithm(Asn1Context *ctx, const CRYPT_ALGORITHM_IDENTIFIER &given,
                       ESSCertIDv2 *certId)
{
    if (std::strcmp(given.pszObjId, kSha256) == 0) return TRUE;
    certId->m.hashAlgorithmPresent = 1;
    return AlgorithmIdentifier_FillAsn1cObject(ctx, &given, &certId->hashAlgorithm);
}

BOOL AppendESSCertIDv2(Asn1Context *ctx, const KVCMSG_ESS_CERT_ID_V2 &given, DList *certs)
{
    if (!given.HashAlgorithm.pszObjId || (given.CertHash.cbData && !given.CertHash.pbData)) {
        KV_TRACE_ERROR("Malformed KVCMSG_SIGNING_CERTIFICATEV2");
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    auto *certId = NewListElement<ESSCertIDv2>(ctx, __func__);
    if (!certId || !FillHashAlgorithm(ctx, given.HashAlgorithm, certId)) return FALSE;
    ASN1DynOctStr_FillAsn1cObject(&given.CertHash, &certId->certHash);
    if (!FillIssuerSerialIfGiven(ctx, given.IssuerSerial, certId)) return FALSE;
    AppendListElement(ctx, certs, certId);
    return TRUE;
}

void SizeHashAlgorithm(Asn1Context *ctx, const ESSCertIDv2 &certId, size_t *pcbNeeded)
{
    if (certId.m.hashAlgorithmPresent)
        AlgorithmIdentifier_GetBufferSize(ctx, &certId.hashAlgorithm, pcbNeeded);
    else
        *pcbNeeded += sizeof kSha256;
}

BOOL FillHashAlgorithmBuffer(const ESSCertIDv2 &certId, CRYPT_ALGORITHM_IDENTIFIER *pAlg,
                             BYTE **ppbCursor)
{
    if (certId.m.hashAlgorithmPresent)
        return AlgorithmIdentifier_FillBuffer(&certId.hashAlgorithm, pAlg, ppbCursor);
    CopyAlgorithmToCursor(kSha256, pAlg, ppbCursor);
    return TRUE;
}

// Hash algorithm, hash, issuer, serial number.
BOOL FillESSCertIDv2Buffer(const ESSCertIDv2 &certId, const KVCMSG_ISSUER_SERIAL &record,
                           KVCMSG_ESS_CERT_ID_V2 *pCertId, BYTE **ppbCursor)
{
    if (!FillHashAlgorithmBuffer(certId, &pCertId->HashAlgorithm, ppbCursor)) return FALSE;
    ASN1DynOctStr_FillBuffer(&certId.certHash, &pCertId->CertHash, ppbCursor);
    IssuerSerial_FillBuffer(&record, &pCertId->IssuerSerial, ppbCursor);
    return TRUE;
}

} // namespace

BOOL SigningCertificateV2_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo, void *value)
{
    const auto *info = static_cast<const KVCMSG_SIGNING_CERTIFICATEV2 *>(pvStructInfo);
    auto *signingCert = static_cast<SigningCertificateV2 *>(value);
    if (!CheckCallerArrays(__func__, "Malformed KVCMSG_SIGNING_CERTIFICATEV2", *info)) return FALSE;
    rtDListInit(&signingCert->certs);
    for (DWORD i = 0; i < info->cCerts; ++i)
        if (!AppendESSCertIDv2(ctx, info->rgCerts[i], &signingCert->certs)) return FALSE;
    return FillPoliciesIfGiven(ctx, *info, signingCert);
}

// The structure, the two arrays, then per certificate its hash algorithm, hash, issuer and
// serial number, then the policies.
BOOL SigningCertificateV2_GetBufferSize(Asn1Context *ctx, void *value, DWORD *pcbStructInfo,
                                        void **ppHandover)
{
    auto *signingCert = static_cast<SigningCertificateV2 *>(value);
    const DList *policies = PoliciesOf(signingCert);
    KVCMSG_ISSUER_SERIAL *records = NewIssuerSerialRecords(ctx, signingCert->certs.count, __func__);
    if (!records) return FALSE;
    size_t cbNeeded =
        FixedPartSize<KVCMSG_SIGNING_CERTIFICATEV2>(signingCert->certs.count, policies->count);
    if (!ForEachElement<ESSCertIDv2>(signingCert->certs, [&](ESSCertIDv2 *certId, DWORD index) {
            SizeHashAlgorithm(ctx, *certId, &cbNeeded);
            cbNeeded += certId->certHash.numocts;
            return SizeIssuerSerialIfPresent(ctx, certId, &cbNeeded, &records[index]);
        }))
        return FALSE;
    SeqOfPolicyInformation_GetBufferSize(ctx, policies, &cbNeeded);
    *ppHandover = records;
    return StoreFlatSize(__func__, cbNeeded, pcbStructInfo);
}

BOOL SigningCertificateV2_FillBuffer(Asn1Context *, void *value, void *pvBuffer, DWORD cbBuffer,
                                     void **ppHandover)
{
    const auto *signingCert = static_cast<const SigningCertificateV2 *>(value);
    const DList *policies = PoliciesOf(signingCert);
    const auto *records = static_cast<const KVCMSG_ISSUER_SERIAL *>(*ppHandover);
    auto *info = static_cast<KVCMSG_SIGNING_CERTIFICATEV2 *>(pvBuffer);
    BYTE *cursor = LayFixedPart(info, signingCert->certs.count, policies->count);
    return ForEachElement<const ESSCertIDv2>(signingCert->certs,
                                             [&](const ESSCertIDv2 *certId, DWORD index) {
                                                 return FillESSCertIDv2Buffer(
                                                     *certId, records[index], &info->rgCerts[index],
                                                     &cursor);
                                             }) &&
           SeqOfPolicyInformation_FillBuffer(policies, info->rgPolicies, &cursor) &&
           CheckFilledSize(__func__, FilledSize(pvBuffer, cursor), cbBuffer);
}

KV_DEFINE_ENCODE_ENTRY_POINTS(SigningCertificateV2, SigningCertificateV2,
                              asn1E_SigningCertificateV2, SigningCertificateV2_FillAsn1cObject)
KV_DEFINE_DECODE_ENTRY_POINTS(SigningCertificateV2, SigningCertificateV2,
                              asn1D_SigningCertificateV2, SigningCertificateV2_GetBufferSize,
                              SigningCertificateV2_FillBuffer)

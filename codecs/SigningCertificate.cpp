// SigningCertificate ::= SEQUENCE {
//     certs     SEQUENCE OF ESSCertID,
//     policies  SEQUENCE OF PolicyInformation OPTIONAL }
// ESSCertID ::= SEQUENCE {
//     certHash      Hash,
//     issuerSerial  IssuerSerial OPTIONAL }                         -- RFC 2634, 5.4
#include "codecs/EssHelpers.h"
#include "frame/EntryPoints.h"
#include "kvext/kvext.h"

using namespace ess;

namespace {

BOOL AppendESSCertID(Asn1Context *ctx, const KVCMSG_ESS_CERT_ID &given, DList *certs)
{
    if (given.CertHash.cbData && !given.CertHash.pbData) {
        KV_TRACE_ERROR("Malformed KVCMSG_SIGNING_CERTIFICATE");
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    auto *certId = NewListElement<ESSCertID>(ctx, __func__);
    if (!certId) return FALSE;
    ASN1DynOctStr_FillAsn1cObject(&given.CertHash, &certId->certHash);
    if (!FillIssuerSerialIfGiven(ctx, given.IssuerSerial, certId)) return FALSE;
    AppendListElement(ctx, certs, certId);
    return TRUE;
}

// Hash, issuer, serial number.
void FillESSCertIDBuffer(const ESSCertID &certId, const KVCMSG_ISSUER_SERIAL &record,
                         KVCMSG_ESS_CERT_ID *pCertId, BYTE **ppbCursor)
{
    ASN1DynOctStr_FillBuffer(&certId.certHash, &pCertId->CertHash, ppbCursor);
    IssuerSerial_FillBuffer(&record, &pCertId->IssuerSerial, ppbCursor);
}

} // namespace

BOOL SigningCertificate_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo, void *value)
{
    const auto *info = static_cast<const KVCMSG_SIGNING_CERTIFICATE *>(pvStructInfo);
    auto *signingCert = static_cast<SigningCertificate *>(value);
    if (!CheckCallerArrays(__func__, "Malformed KVCMSG_SIGNING_CERTIFICATE", *info)) return FALSE;
    rtDListInit(&signingCert->certs);
    for (DWORD i = 0; i < info->cCerts; ++i)
        if (!AppendESSCertID(ctx, info->rgCerts[i], &signingCert->certs)) return FALSE;
    return FillPoliciesIfGiven(ctx, *info, signingCert);
}

// The structure, the two arrays, then per certificate its hash, issuer and serial number,
// then the policies.
BOOL SigningCertificate_GetBufferSize(Asn1Context *ctx, void *value, DWORD *pcbStructInfo,
                                      void **ppHandover)
{
    auto *signingCert = static_cast<SigningCertificate *>(value);
    const DList *policies = PoliciesOf(signingCert);
    KVCMSG_ISSUER_SERIAL *records = NewIssuerSerialRecords(ctx, signingCert->certs.count, __func__);
    if (!records) return FALSE;
    size_t cbNeeded =
        FixedPartSize<KVCMSG_SIGNING_CERTIFICATE>(signingCert->certs.count, policies->count);
    if (!ForEachElement<ESSCertID>(signingCert->certs, [&](ESSCertID *certId, DWORD index) {
            cbNeeded += certId->certHash.numocts;
            return SizeIssuerSerialIfPresent(ctx, certId, &cbNeeded, &records[index]);
        }))
        return FALSE;
    SeqOfPolicyInformation_GetBufferSize(ctx, policies, &cbNeeded);
    *ppHandover = records;
    return StoreFlatSize(__func__, cbNeeded, pcbStructInfo);
}

BOOL SigningCertificate_FillBuffer(Asn1Context *, void *value, void *pvBuffer, DWORD cbBuffer,
                                   void **ppHandover)
{
    const auto *signingCert = static_cast<const SigningCertificate *>(value);
    const DList *policies = PoliciesOf(signingCert);
    const auto *records = static_cast<const KVCMSG_ISSUER_SERIAL *>(*ppHandover);
    auto *info = static_cast<KVCMSG_SIGNING_CERTIFICATE *>(pvBuffer);
    BYTE *cursor = LayFixedPart(info, signingCert->certs.count, policies->count);
    ForEachElement<const ESSCertID>(signingCert->certs, [&](const ESSCertID *certId, DWORD index) {
        FillESSCertIDBuffer(*certId, records[index], &info->rgCerts[index], &cursor);
        return TRUE;
    });
    return SeqOfPolicyInformation_FillBuffer(policies, info->rgPolicies, &cursor) &&
           CheckFilledSize(__func__, FilledSize(pvBuffer, cursor), cbBuffer);
}

KV_DEFINE_ENCODE_ENTRY_POINTS(SigningCertificate, SigningCertificate, asn1E_SigningCertificate,
                              SigningCertificate_FillAsn1cObject)
KV_DEFINE_DECODE_ENTRY_POINTS(SigningCertificate, SigningCertificate, asn1D_SigningCertificate,
                              SigningCertificate_GetBufferSize, SigningCertificate_FillBuffer)

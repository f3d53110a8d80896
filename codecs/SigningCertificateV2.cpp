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

BOOL AppendESSCertIDv2(TraceSite site, Asn1Context *ctx, const KVCMSG_ESS_CERT_ID_V2 &given,
                       DList *certs)
{
    if (!given.HashAlgorithm.pszObjId || (given.CertHash.cbData && !given.CertHash.pbData))
        return KV_FAIL_AT(site, ERROR_INVALID_PARAMETER, "Malformed KVCMSG_SIGNING_CERTIFICATEV2");
    auto *certId = NewListElement<ESSCertIDv2>(site, ctx);
    if (!certId || !FillHashAlgorithm(ctx, given.HashAlgorithm, certId)) return FALSE;
    ASN1DynOctStr_FillAsn1cObject(&given.CertHash, &certId->certHash);
    if (!FillIssuerSerialIfGiven(ctx, given.IssuerSerial, certId)) return FALSE;
    rtDListAppendNode(ctx, certs, certId);
    return TRUE;
}

// Hash algorithm (id-sha256 put back when left out), hash, issuer, serial number.
BOOL ESSCertIDv2_Layout(Asn1Context *ctx, ESSCertIDv2 *certId, KVCMSG_ESS_CERT_ID_V2 *pCertId,
                        FlatCursor *cursor)
{
    if (!certId->m.hashAlgorithmPresent)
        CopyAlgorithmToCursor(kSha256, &pCertId->HashAlgorithm, cursor);
    else if (!AlgorithmIdentifier_Layout(&certId->hashAlgorithm, &pCertId->HashAlgorithm, cursor))
        return FALSE;
    ASN1DynOctStr_Layout(&certId->certHash, &pCertId->CertHash, cursor);
    return IssuerSerialIfPresent_Layout(ctx, certId, &pCertId->IssuerSerial, cursor);
}

BOOL SigningCertificateV2_Layout(Asn1Context *ctx, SigningCertificateV2 *value, FlatCursor *cursor)
{
    return SigningCertificateLayout<KVCMSG_SIGNING_CERTIFICATEV2>(ctx, value, cursor,
                                                                  ESSCertIDv2_Layout);
}

} // namespace

BOOL SigningCertificateV2_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo, void *value)
{
    return SigningCertificateFill(KV_HERE, "Malformed KVCMSG_SIGNING_CERTIFICATEV2", ctx,
                                  *static_cast<const KVCMSG_SIGNING_CERTIFICATEV2 *>(pvStructInfo),
                                  static_cast<SigningCertificateV2 *>(value), AppendESSCertIDv2);
}

KV_DEFINE_FLAT_RESULT_CALLBACKS(SigningCertificateV2, SigningCertificateV2_Layout)

KV_DEFINE_ENCODE_ENTRY_POINTS(SigningCertificateV2, SigningCertificateV2,
                              asn1E_SigningCertificateV2, SigningCertificateV2_FillAsn1cObject)
KV_DEFINE_DECODE_ENTRY_POINTS(SigningCertificateV2, SigningCertificateV2,
                              asn1D_SigningCertificateV2, SigningCertificateV2_GetBufferSize,
                              SigningCertificateV2_FillBuffer)

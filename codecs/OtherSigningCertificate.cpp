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

// Identifiers that take the bare sha1Hash form; it always decodes as plain SHA-1.
constexpr char kSha1[] = "1.3.14.3.2.26";
constexpr char kEcdsaWithSha1[] = "1.2.840.10045.4.1";

bool IsSha1(const char *pszObjId)
{
    return std::strcmp(pszObjId, kSha1) == 0 || std::strcmp(pszObjId, kEcdsaWithSha1) == 0;
}

// The bare hash for SHA-1 (its parameters go unread), the identified hash otherwise.
BOOL FillOtherHash(TraceSite site, Asn1Context *ctx, const KVCMSG_OTHER_CERT_ID &given,
                   OtherHash *otherHash)
{
    if (IsSha1(given.HashAlgorithm.pszObjId)) {
        auto *sha1Hash = ContextNew<OtherHashValue>(site, ctx, "ALLOC_ASN1ELEM() failed");
        if (!sha1Hash) return FALSE;
        ASN1DynOctStr_FillAsn1cObject(&given.CertHash, sha1Hash);
        otherHash->t = T_OtherHash_sha1Hash;
        otherHash->u.sha1Hash = sha1Hash;
        return TRUE;
    }
    auto *algAndValue = ContextNew<OtherHashAlgAndValue>(site, ctx, "ALLOC_ASN1ELEM() failed");
    if (!algAndValue || !AlgorithmIdentifier_FillAsn1cObject(ctx, &given.HashAlgorithm,
                                                             &algAndValue->hashAlgorithm))
        return FALSE;
    ASN1DynOctStr_FillAsn1cObject(&given.CertHash, &algAndValue->hashValue);
    otherHash->t = T_OtherHash_otherHash;
    otherHash->u.otherHash = algAndValue;
    return TRUE;
}

BOOL AppendOtherCertID(TraceSite site, Asn1Context *ctx, const KVCMSG_OTHER_CERT_ID &given,
                       DList *certs)
{
    if (!given.HashAlgorithm.pszObjId || (given.CertHash.cbData && !given.CertHash.pbData))
        return KV_FAIL_AT(site, ERROR_INVALID_PARAMETER,
                          "Malformed KVCMSG_OTHER_SIGNING_CERTIFICATE");
    auto *certId = NewListElement<OtherCertID>(site, ctx);
    if (!certId || !FillOtherHash(site, ctx, given, &certId->otherCertHash) ||
        !FillIssuerSerialIfGiven(ctx, given.IssuerSerial, certId))
        return FALSE;
    rtDListAppendNode(ctx, certs, certId);
    return TRUE;
}

// Hash algorithm, hash, issuer, serial number. The bare sha1Hash comes back as SHA-1.
BOOL OtherCertID_Layout(Asn1Context *ctx, OtherCertID *certId, KVCMSG_OTHER_CERT_ID *pCertId,
                        FlatCursor *cursor)
{
    const OtherHash &otherHash = certId->otherCertHash;
    switch (otherHash.t) {
    case T_OtherHash_sha1Hash:
        CopyAlgorithmToCursor(kSha1, &pCertId->HashAlgorithm, cursor);
        ASN1DynOctStr_Layout(otherHash.u.sha1Hash, &pCertId->CertHash, cursor);
        break;
    case T_OtherHash_otherHash:
        if (!AlgorithmIdentifier_Layout(&otherHash.u.otherHash->hashAlgorithm,
                                        &pCertId->HashAlgorithm, cursor))
            return FALSE;
        ASN1DynOctStr_Layout(&otherHash.u.otherHash->hashValue, &pCertId->CertHash, cursor);
        break;
    default: // a decoded otherCertHash holds neither alternative
        return KV_FAIL_AT(cursor->site, ERROR_INVALID_PARAMETER, "Malformed OtherCertID");
    }
    return IssuerSerialIfPresent_Layout(ctx, certId, &pCertId->IssuerSerial, cursor);
}

BOOL OtherSigningCertificate_Layout(Asn1Context *ctx, OtherSigningCertificate *value,
                                    FlatCursor *cursor)
{
    return SigningCertificateLayout<KVCMSG_OTHER_SIGNING_CERTIFICATE>(ctx, value, cursor,
                                                                      OtherCertID_Layout);
}

} // namespace

BOOL OtherSigningCertificate_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo,
                                             void *value)
{
    return SigningCertificateFill(
        KV_HERE, "Malformed KVCMSG_OTHER_SIGNING_CERTIFICATE", ctx,
        *static_cast<const KVCMSG_OTHER_SIGNING_CERTIFICATE *>(pvStructInfo),
        static_cast<OtherSigningCertificate *>(value), AppendOtherCertID);
}

KV_DEFINE_FLAT_RESULT_CALLBACKS(OtherSigningCertificate, OtherSigningCertificate_Layout)

KV_DEFINE_ENCODE_ENTRY_POINTS(OtherSigningCertificate, OtherSigningCertificate,
                              asn1E_OtherSigningCertificate,
                              OtherSigningCertificate_FillAsn1cObject)
KV_DEFINE_DECODE_ENTRY_POINTS(OtherSigningCertificate, OtherSigningCertificate,
                              asn1D_OtherSigningCertificate, OtherSigningCertificate_GetBufferSize,
                              OtherSigningCertificate_FillBuffer)

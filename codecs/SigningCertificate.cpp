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

BOOL AppendESSCertID(TraceSite site, Asn1Context *ctx, const KVCMSG_ESS_CERT_ID &given,
                     DList *certs)
{
    if (given.CertHash.cbData && !given.CertHash.pbData)
        return KV_FAIL_AT(site, ERROR_INVALID_PARAMETER, "Malformed KVCMSG_SIGNING_CERTIFICATE");
    auto *certId = NewListElement<ESSCertID>(site, ctx);
    if (!certId) return FALSE;
    ASN1DynOctStr_FillAsn1cObject(&given.CertHash, &certId->certHash);
    if (!FillIssuerSerialIfGiven(ctx, given.IssuerSerial, certId)) return FALSE;
    rtDListAppendNode(ctx, certs, certId);
    return TRUE;
}

// Hash, issuer, serial number.
BOOL ESSCertID_Layout(Asn1Context *ctx, ESSCertID *certId, KVCMSG_ESS_CERT_ID *pCertId,
                      FlatCursor *cursor)
{
    ASN1DynOctStr_Layout(&certId->certHash, &pCertId->CertHash, cursor);
    return IssuerSerialIfPresent_Layout(ctx, certId, &pCertId->IssuerSerial, cursor);
}

BOOL SigningCertificate_Layout(Asn1Context *ctx, SigningCertificate *value, FlatCursor *cursor)
{
    return SigningCertificateLayout<KVCMSG_SIGNING_CERTIFICATE>(ctx, value, cursor,
                                                                ESSCertID_Layout);
}

} // namespace

BOOL SigningCertificate_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo, void *value)
{
    return SigningCertificateFill(KV_HERE, "Malformed KVCMSG_SIGNING_CERTIFICATE", ctx,
                                  *static_cast<const KVCMSG_SIGNING_CERTIFICATE *>(pvStructInfo),
                                  static_cast<SigningCertificate *>(value), AppendESSCertID);
}

KV_DEFINE_FLAT_RESULT_CALLBACKS(SigningCertificate, SigningCertificate_Layout)

KV_DEFINE_ENCODE_ENTRY_POINTS(SigningCertificate, SigningCertificate, asn1E_SigningCertificate,
                              SigningCertificate_FillAsn1cObject)
KV_DEFINE_DECODE_ENTRY_POINTS(SigningCertificate, SigningCertificate, asn1D_SigningCertificate,
                              SigningCertificate_GetBufferSize, SigningCertificate_FillBuffer)

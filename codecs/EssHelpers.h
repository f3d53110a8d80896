// Pieces shared by the three ESS signing-certificate codecs (SigningCertificate,
// SigningCertificateV2, OtherSigningCertificate): the helper families named after the ASN.1
// types they convert, the flat-result layout common to the three caller structures, and the
// callbacks the codecs hand the frame.
//
// Encode side: a helper fills an ASN.1 value from caller data, pointing at the caller's bytes
// where it can; everything else comes from the call's context heap.
// Decode side: a layout helper lays its part of the flat result at the cursor, or only moves
// the cursor past it while the frame measures.
#pragma once

#include "asn1/Asn1Types.h"
#include "frame/AsnObject.h"
#include "frame/FlatLayout.h"
#include "kvext/ess.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

// ------------------------------------------------------------------ AlgorithmIdentifier

// pszObjId into `algorithm`; Parameters, when non-empty, become the open-type `parameters`.
BOOL AlgorithmIdentifier_FillAsn1cObject(Asn1Context *ctx, const CRYPT_ALGORITHM_IDENTIFIER *pAlg,
                                         AlgorithmIdentifier *value);
// The dotted OID with its NUL, then the parameter bytes when present.
BOOL AlgorithmIdentifier_Layout(const AlgorithmIdentifier *value, CRYPT_ALGORITHM_IDENTIFIER *pAlg,
                                FlatCursor *cursor);

// ------------------------------------------------------------------ OCTET STRING

// The value takes the blob's length and points at the caller's bytes.
void ASN1DynOctStr_FillAsn1cObject(const CRYPT_DATA_BLOB *pBlob, ASN1DynOctStr *value);
// An empty string gives {0, NULL}.
void ASN1DynOctStr_Layout(const ASN1DynOctStr *value, CRYPT_DATA_BLOB *pBlob, FlatCursor *cursor);

// ------------------------------------------------------------------ IssuerSerial

// Called with a non-empty Issuer only. The issuer becomes one directoryName; the serial number
// goes through the host's X509_MULTI_BYTE_INTEGER codec.
BOOL IssuerSerial_FillAsn1cObject(Asn1Context *ctx, const KVCMSG_ISSUER_SERIAL *pIssuerSerial,
                                  IssuerSerial *value);
// The issuer's Name DER, then the serial number's bytes.
BOOL IssuerSerial_Layout(Asn1Context *ctx, IssuerSerial *value, KVCMSG_ISSUER_SERIAL *pIssuerSerial,
                         FlatCursor *cursor);

// ------------------------------------------------------------------ SEQUENCE OF PolicyInformation

BOOL SeqOfPolicyInformation_FillAsn1cObject(Asn1Context *ctx, const CERT_POLICY_INFO *rgPolicies,
                                            DWORD cPolicies, DList *value);
// Per policy its identifier, then its qualifier array on that structure's alignment, then each
// qualifier's identifier and encoding. The CERT_POLICY_INFO array itself is the caller's.
BOOL SeqOfPolicyInformation_Layout(const DList *value, CERT_POLICY_INFO *rgPolicies,
                                   FlatCursor *cursor);

// ------------------------------------------------------------------ shared by the three codecs

namespace ess {

// `text` and its NUL at the cursor as the identifier of `pAlg`, without parameters.
template <size_t N>
void CopyAlgorithmToCursor(const char (&text)[N], CRYPT_ALGORITHM_IDENTIFIER *pAlg,
                           FlatCursor *cursor)
{
    if (BYTE *at = cursor->Take(N)) {
        std::memcpy(at, text, N);
        pAlg->pszObjId = reinterpret_cast<LPSTR>(at);
    }
}

// The three caller structures share one shape: cCerts, rgCerts, cPolicies, rgPolicies.
template <typename Info> using CertIdOf = std::remove_pointer_t<decltype(Info::rgCerts)>;

// A count without its array fails with `message` (ERROR_INVALID_PARAMETER) at `site`.
BOOL CheckCountedArrays(TraceSite site, const char *message, DWORD cCerts, const void *rgCerts,
                        DWORD cPolicies, const void *rgPolicies);

// The optional issuerSerial of a certificate identifier, present exactly when an issuer is
// given, whatever the serial number holds.
template <typename CertIdValue>
BOOL FillIssuerSerialIfGiven(Asn1Context *ctx, const KVCMSG_ISSUER_SERIAL &given,
                             CertIdValue *value)
{
    if (!given.Issuer.cbData) return TRUE;
    value->m.issuerSerialPresent = 1;
    return IssuerSerial_FillAsn1cObject(ctx, &given, &value->issuerSerial);
}
// An absent issuerSerial leaves both blobs {0, NULL}.
template <typename CertIdValue>
BOOL IssuerSerialIfPresent_Layout(Asn1Context *ctx, CertIdValue *value,
                                  KVCMSG_ISSUER_SERIAL *pIssuerSerial, FlatCursor *cursor)
{
    return !value->m.issuerSerialPresent ||
           IssuerSerial_Layout(ctx, &value->issuerSerial, pIssuerSerial, cursor);
}

template <typename Value> const DList *PoliciesOf(const Value *value)
{
    static const DList kNoPolicies{};
    return value->m.policiesPresent ? &value->policies : &kNoPolicies;
}

// Calls fn(element, index) for each element of a decoded list, in order, until one fails.
template <typename Element, typename Fn> BOOL ForEachElement(const DList &list, Fn &&fn)
{
    DWORD index = 0;
    for (const DListNode *node = list.head; node; node = node->next, ++index)
        if (!fn(static_cast<Element *>(node->data), index)) return FALSE;
    return TRUE;
}

// The encode side of the three codecs: the caller's arrays checked, one certificate identifier
// appended per element by `appendCertId`, then the policies, present exactly when given.
// Failures are reported at `site`, the codec's FillAsn1cObject.
template <typename Info, typename Value, typename AppendCertId>
BOOL SigningCertificateFill(TraceSite site, const char *malformed, Asn1Context *ctx,
                            const Info &info, Value *value, AppendCertId appendCertId)
{
    if (!CheckCountedArrays(site, malformed, info.cCerts, info.rgCerts, info.cPolicies,
                            info.rgPolicies))
        return FALSE;
    rtDListInit(&value->certs);
    for (DWORD i = 0; i < info.cCerts; ++i)
        if (!appendCertId(site, ctx, info.rgCerts[i], &value->certs)) return FALSE;
    if (!info.cPolicies) return TRUE;
    value->m.policiesPresent = 1;
    return SeqOfPolicyInformation_FillAsn1cObject(ctx, info.rgPolicies, info.cPolicies,
                                                  &value->policies);
}

// The flat result of the three codecs: the structure, its rgCerts array, its rgPolicies array,
// then per certificate what `certIdLayout` lays, then the policies' bytes.
template <typename Info, typename Value, typename CertIdValue>
BOOL SigningCertificateLayout(Asn1Context *ctx, Value *value, FlatCursor *cursor,
                              BOOL (*certIdLayout)(Asn1Context *, CertIdValue *, CertIdOf<Info> *,
                                                   FlatCursor *))
{
    using CertId = CertIdOf<Info>;
    const DList *policies = PoliciesOf(value);
    Info scratch{};
    Info &info = ElementOr(cursor->template Take<Info>(), 0, scratch);
    CertId *rgCerts = cursor->template Take<CertId>(value->certs.count);
    CERT_POLICY_INFO *rgPolicies = cursor->template Take<CERT_POLICY_INFO>(policies->count);
    info.cCerts = value->certs.count;
    info.rgCerts = info.cCerts ? rgCerts : nullptr;
    info.cPolicies = policies->count;
    info.rgPolicies = info.cPolicies ? rgPolicies : nullptr;
    CertId scratchId{};
    DWORD index = 0;
    for (const DListNode *node = value->certs.head; node; node = node->next, ++index)
        if (!certIdLayout(ctx, static_cast<CertIdValue *>(node->data),
                          &ElementOr(rgCerts, index, scratchId), cursor))
            return FALSE;
    return SeqOfPolicyInformation_Layout(policies, rgPolicies, cursor);
}

} // namespace ess

// ------------------------------------------------------------------ the codecs' callbacks

BOOL SigningCertificate_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo, void *value);
BOOL SigningCertificate_GetBufferSize(Asn1Context *ctx, void *value, DWORD *pcbStructInfo);
BOOL SigningCertificate_FillBuffer(Asn1Context *ctx, void *value, void *pvBuffer, DWORD cbBuffer);

BOOL SigningCertificateV2_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo, void *value);
BOOL SigningCertificateV2_GetBufferSize(Asn1Context *ctx, void *value, DWORD *pcbStructInfo);
BOOL SigningCertificateV2_FillBuffer(Asn1Context *ctx, void *value, void *pvBuffer, DWORD cbBuffer);

BOOL OtherSigningCertificate_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo,
                                             void *value);
BOOL OtherSigningCertificate_GetBufferSize(Asn1Context *ctx, void *value, DWORD *pcbStructInfo);
BOOL OtherSigningCertificate_FillBuffer(Asn1Context *ctx, void *value, void *pvBuffer,
                                        DWORD cbBuffer);

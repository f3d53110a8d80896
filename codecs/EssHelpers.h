// Pieces shared by the three ESS signing-certificate codecs (SigningCertificate,
// SigningCertificateV2, OtherSigningCertificate): the helper families named after the ASN.1
// types they convert, the flat-result layout common to the three caller structures, and the
// callbacks the codecs hand the frame.
//
// Encode side: a helper fills an ASN.1 value from caller data, pointing at the caller's bytes
// where it can; everything else comes from the call's context heap.
// Decode side: a size helper adds the bytes its part needs to a running size, which is also
// the offset from the start of the flat result at which that part will be laid; a fill helper
// lays the same bytes at a cursor and moves the cursor past them.
#pragma once

#include "asn1/Asn1Types.h"
#include "frame/AsnObject.h"
#include "kvext/ess.h"

#include <cstddef>
#include <type_traits>

// ------------------------------------------------------------------ AlgorithmIdentifier

// pszObjId into `algorithm`; Parameters, when non-empty, become the open-type `parameters`.
BOOL AlgorithmIdentifier_FillAsn1cObject(Asn1Context *ctx, const CRYPT_ALGORITHM_IDENTIFIER *pAlg,
                                         AlgorithmIdentifier *value);
// The dotted OID with its NUL, plus the parameter bytes when present.
void AlgorithmIdentifier_GetBufferSize(Asn1Context *ctx, const AlgorithmIdentifier *value,
                                       size_t *pcbNeeded);
BOOL AlgorithmIdentifier_FillBuffer(const AlgorithmIdentifier *value,
                                    CRYPT_ALGORITHM_IDENTIFIER *pAlg, BYTE **ppbCursor);

// ------------------------------------------------------------------ OCTET STRING

// The value takes the blob's length and points at the caller's bytes.
void ASN1DynOctStr_FillAsn1cObject(const CRYPT_DATA_BLOB *pBlob, ASN1DynOctStr *value);
// An empty string gives {0, NULL}.
void ASN1DynOctStr_FillBuffer(const ASN1DynOctStr *value, CRYPT_DATA_BLOB *pBlob, BYTE **ppbCursor);

// ------------------------------------------------------------------ IssuerSerial

// Called with a non-empty Issuer only. The issuer becomes one directoryName; the serial number
// goes through the host's X509_MULTI_BYTE_INTEGER codec.
BOOL IssuerSerial_FillAsn1cObject(Asn1Context *ctx, const KVCMSG_ISSUER_SERIAL *pIssuerSerial,
                                  IssuerSerial *value);
// Works out the issuer and serial-number bytes into `pRecord` (context memory) and adds their
// length. The record is what IssuerSerial_FillBuffer later copies out.
BOOL IssuerSerial_GetBufferSize(Asn1Context *ctx, IssuerSerial *value, size_t *pcbNeeded,
                                KVCMSG_ISSUER_SERIAL *pRecord);
void IssuerSerial_FillBuffer(const KVCMSG_ISSUER_SERIAL *pRecord,
                             KVCMSG_ISSUER_SERIAL *pIssuerSerial, BYTE **ppbCursor);

// ------------------------------------------------------------------ SEQUENCE OF PolicyInformation

BOOL SeqOfPolicyInformation_FillAsn1cObject(Asn1Context *ctx, const CERT_POLICY_INFO *rgPolicies,
                                            DWORD cPolicies, DList *value);
// The variable bytes of all policies; the CERT_POLICY_INFO array itself belongs to the
// structure's fixed part. Each qualifier array is aligned for CERT_POLICY_QUALIFIER_INFO, so
// the padding depends on the running size, which must be the offset where the policies'
// bytes begin.
void SeqOfPolicyInformation_GetBufferSize(Asn1Context *ctx, const DList *value, size_t *pcbNeeded);
// The same padding, counted from rgPolicies, which lies at an offset of the block that is a
// multiple of that alignment.
BOOL SeqOfPolicyInformation_FillBuffer(const DList *value, CERT_POLICY_INFO *rgPolicies,
                                       BYTE **ppbCursor);

// ------------------------------------------------------------------ shared by the three codecs

namespace ess {

// A zeroed list node with its element, from the context heap; null after tracing
// "ALLOC_ASN1ELEMDNODE() failed" under `function`.
void *NewListElement(Asn1Context *ctx, size_t cbElement, const char *function);
template <typename Element> Element *NewListElement(Asn1Context *ctx, const char *function)
{
    return static_cast<Element *>(NewListElement(ctx, sizeof(Element), function));
}
// Appends an element made by NewListElement.
void AppendListElement(Asn1Context *ctx, DList *list, void *element);

// Copies `cb` bytes to the cursor; an empty blob gives {0, NULL}.
void CopyBlobToCursor(const BYTE *pb, DWORD cb, CRYPT_DATA_BLOB *pBlob, BYTE **ppbCursor);

// `text` and its NUL at the cursor as the identifier of `pAlg`, without parameters.
template <size_t N>
void CopyAlgorithmToCursor(const char (&text)[N], CRYPT_ALGORITHM_IDENTIFIER *pAlg,
                           BYTE **ppbCursor)
{
    CRYPT_DATA_BLOB identifier;
    CopyBlobToCursor(reinterpret_cast<const BYTE *>(text), N, &identifier, ppbCursor);
    pAlg->pszObjId = reinterpret_cast<LPSTR>(identifier.pbData);
    pAlg->Parameters = {0, nullptr};
}

// The three caller structures share one shape: cCerts, rgCerts, cPolicies, rgPolicies.
template <typename Info> using CertIdOf = std::remove_pointer_t<decltype(Info::rgCerts)>;

// A count without its array fails with `message` (ERROR_INVALID_PARAMETER) under `function`.
BOOL CheckCountedArrays(const char *function, const char *message, DWORD cCerts,
                        const void *rgCerts, DWORD cPolicies, const void *rgPolicies);
template <typename Info>
BOOL CheckCallerArrays(const char *function, const char *message, const Info &info)
{
    return CheckCountedArrays(function, message, info.cCerts, info.rgCerts, info.cPolicies,
                              info.rgPolicies);
}

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
template <typename CertIdValue>
BOOL SizeIssuerSerialIfPresent(Asn1Context *ctx, CertIdValue *value, size_t *pcbNeeded,
                               KVCMSG_ISSUER_SERIAL *pRecord)
{
    return !value->m.issuerSerialPresent ||
           IssuerSerial_GetBufferSize(ctx, &value->issuerSerial, pcbNeeded, pRecord);
}

// The policies component, present exactly when the caller gave policies.
template <typename Info, typename Value>
BOOL FillPoliciesIfGiven(Asn1Context *ctx, const Info &info, Value *value)
{
    if (!info.cPolicies) return TRUE;
    value->m.policiesPresent = 1;
    return SeqOfPolicyInformation_FillAsn1cObject(ctx, info.rgPolicies, info.cPolicies,
                                                  &value->policies);
}
template <typename Value> const DList *PoliciesOf(const Value *value)
{
    static const DList kNoPolicies{};
    return value->m.policiesPresent ? &value->policies : &kNoPolicies;
}

// One zeroed issuer-serial record per certificate, from the context heap: the hand-over from
// the size step to the fill step. Traces "ASN1MALLOC() failed" under `function`.
KVCMSG_ISSUER_SERIAL *NewIssuerSerialRecords(Asn1Context *ctx, DWORD cCerts, const char *function);

// Fixed part of a flat result: the structure, its rgCerts array, its rgPolicies array.
template <typename Info> size_t FixedPartSize(DWORD cCerts, DWORD cPolicies)
{
    return sizeof(Info) + size_t{cCerts} * sizeof(CertIdOf<Info>) +
           size_t{cPolicies} * sizeof(CERT_POLICY_INFO);
}

// Lays the fixed part (zeroed, arrays NULL when empty) and returns the cursor behind it.
BYTE *LayFixedPart(void *pvBuffer, size_t cbStruct, size_t cbCertId, DWORD cCerts, DWORD cPolicies,
                   void **prgCerts, CERT_POLICY_INFO **prgPolicies);
template <typename Info> BYTE *LayFixedPart(Info *info, DWORD cCerts, DWORD cPolicies)
{
    void *rgCerts = nullptr;
    BYTE *cursor = LayFixedPart(info, sizeof(Info), sizeof(CertIdOf<Info>), cCerts, cPolicies,
                                &rgCerts, &info->rgPolicies);
    info->cCerts = cCerts;
    info->rgCerts = static_cast<CertIdOf<Info> *>(rgCerts);
    info->cPolicies = cPolicies;
    return cursor;
}

// Bytes laid so far: from the start of the block to the cursor.
inline size_t FilledSize(const void *pvBuffer, const BYTE *cursor)
{
    return static_cast<size_t>(cursor - static_cast<const BYTE *>(pvBuffer));
}

// Calls fn(element, index) for each element of a decoded list, in order, until one fails.
template <typename Element, typename Fn> BOOL ForEachElement(const DList &list, Fn &&fn)
{
    DWORD index = 0;
    for (const DListNode *node = list.head; node; node = node->next, ++index)
        if (!fn(static_cast<Element *>(node->data), index)) return FALSE;
    return TRUE;
}

} // namespace ess

// ------------------------------------------------------------------ the codecs' callbacks

BOOL SigningCertificate_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo, void *value);
BOOL SigningCertificate_GetBufferSize(Asn1Context *ctx, void *value, DWORD *pcbStructInfo,
                                      void **ppHandover);
BOOL SigningCertificate_FillBuffer(Asn1Context *ctx, void *value, void *pvBuffer, DWORD cbBuffer,
                                   void **ppHandover);

BOOL SigningCertificateV2_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo, void *value);
BOOL SigningCertificateV2_GetBufferSize(Asn1Context *ctx, void *value, DWORD *pcbStructInfo,
                                        void **ppHandover);
BOOL SigningCertificateV2_FillBuffer(Asn1Context *ctx, void *value, void *pvBuffer, DWORD cbBuffer,
                                     void **ppHandover);

BOOL OtherSigningCertificate_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo,
                                             void *value);
BOOL OtherSigningCertificate_GetBufferSize(Asn1Context *ctx, void *value, DWORD *pcbStructInfo,
                                           void **ppHandover);
BOOL OtherSigningCertificate_FillBuffer(Asn1Context *ctx, void *value, void *pvBuffer,
                                        DWORD cbBuffer, void **ppHandover);

// CRLDistributionPoints ::= SEQUENCE SIZE (1..MAX) OF DistributionPoint
//
// DistributionPoint ::= SEQUENCE {
//     distributionPoint       [0]     DistributionPointName OPTIONAL,
//     reasons                 [1]     ReasonFlags OPTIONAL,
//     cRLIssuer               [2]     GeneralNames OPTIONAL }
//
// DistributionPointName ::= CHOICE {
//     fullName                [0]     GeneralNames,
//     nameRelativeToCRLIssuer [1]     RelativeDistinguishedName }  -- RFC 5280, 4.2.1.13
//
// CRL_DIST_POINTS_INFO <-> DER. A decoded result is one block: the CRL_DIST_POINTS_INFO, its
// CRL_DIST_POINT array, then for each point in order the data of its full name, its reason
// bytes and its CRL issuer, every item on a 4-byte boundary (FlatCursor). A name relative to
// the CRL issuer is reported as CRL_DIST_POINT_ISSUER_RDN_NAME without the RDN itself.
#include "codecs/GeneralNames.h"

#include "frame/EntryPoints.h"

#include <cstring>
#include <limits>

namespace {

// Alternatives of DistributionPointName.
constexpr ASN1UINT kFullName = 1;
constexpr ASN1UINT kNameRelativeToCRLIssuer = 2;

// Scratch of the size step for the fill step: the DER of the encoded names (x400Address,
// directoryName, ediPartyName) of one point's full name and of its CRL issuer.
struct DistPointHandover {
    CRYPT_DATA_BLOB *fullNameEncodings;
    CRYPT_DATA_BLOB *crlIssuerEncodings;
};

// ReasonFlags of at most 2 bytes, the unused bits counted in the last one.
BOOL ReasonFlags_FillAsn1cObject(const CRYPT_BIT_BLOB *pReasons, ReasonFlags *reasons)
{
    if (pReasons->cbData > sizeof reasons->data || pReasons->cUnusedBits > 7) {
        KV_TRACE_ERROR("Malformed CRL_DIST_POINTS_INFO");
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    reasons->numbits = pReasons->cbData * 8 - pReasons->cUnusedBits;
    std::memcpy(reasons->data, pReasons->pbData, pReasons->cbData);
    return TRUE;
}

BOOL DistributionPointName_FillAsn1cObject(Asn1Context *ctx, const CERT_ALT_NAME_INFO *pFullName,
                                           DistributionPointName *pointName)
{
    auto *fullName = static_cast<GeneralNames *>(ASN1MALLOCZ(ctx, sizeof(GeneralNames)));
    if (!fullName) {
        KV_TRACE_ERROR("ALLOC_ASN1ELEM() failed");
        return FailWith(NTE_NO_MEMORY);
    }
    pointName->t = kFullName;
    pointName->u.fullName = fullName;
    return GeneralNames_FillAsn1cObject(ctx, pFullName, fullName);
}

// Only a full name is written; a point without one, or named relative to its CRL issuer,
// goes out without distributionPoint.
BOOL DistributionPoint_FillAsn1cObject(Asn1Context *ctx, const CRL_DIST_POINT *pPoint,
                                       DistributionPoint *point)
{
    if (pPoint->DistPointName.dwDistPointNameChoice == CRL_DIST_POINT_FULL_NAME) {
        point->m.distributionPointPresent = 1;
        if (!DistributionPointName_FillAsn1cObject(ctx, &pPoint->DistPointName.FullName,
                                                   &point->distributionPoint))
            return FALSE;
    }
    if (pPoint->ReasonFlags.cbData && pPoint->ReasonFlags.pbData) {
        point->m.reasonsPresent = 1;
        if (!ReasonFlags_FillAsn1cObject(&pPoint->ReasonFlags, &point->reasons)) return FALSE;
    }
    if (pPoint->CRLIssuer.cAltEntry && pPoint->CRLIssuer.rgAltEntry) {
        point->m.cRLIssuerPresent = 1;
        if (!GeneralNames_FillAsn1cObject(ctx, &pPoint->CRLIssuer, &point->cRLIssuer)) return FALSE;
    }
    return TRUE;
}

// An empty list is left to the encoder, whose SIZE (1..MAX) check refuses it.
BOOL CrlDistributionPoints_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo, void *value)
{
    const auto *pInfo = static_cast<const CRL_DIST_POINTS_INFO *>(pvStructInfo);
    auto *points = static_cast<CRLDistPointsSyntax *>(value);
    if (pInfo->cDistPoint && !pInfo->rgDistPoint) {
        KV_TRACE_ERROR("Malformed CRL_DIST_POINTS_INFO");
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    for (DWORD i = 0; i < pInfo->cDistPoint; ++i) {
        auto *point =
            static_cast<DistributionPoint *>(rtDListNewNodeAndData(ctx, sizeof(DistributionPoint)));
        if (!point) {
            KV_TRACE_ERROR("ALLOC_ASN1ELEMDNODE() failed");
            return FailWith(NTE_NO_MEMORY);
        }
        if (!DistributionPoint_FillAsn1cObject(ctx, &pInfo->rgDistPoint[i], point)) return FALSE;
        rtDListAppendNode(ctx, points, point);
    }
    return TRUE;
}

// ------------------------------------------------------------------ size step

// A relative name is reported without its RDN and so takes no room.
BOOL DistributionPointName_GetBufferSize(Asn1Context *ctx, const DistributionPointName *pointName,
                                         FlatCursor *cursor, CRYPT_DATA_BLOB **ppEncodings)
{
    if (pointName->t != kFullName)
        return TRUE; // the fill step refuses alternatives it does not know
    return GeneralNames_GetBufferSize(ctx, pointName->u.fullName, cursor, ppEncodings);
}

DWORD ReasonFlagsByteCount(const ReasonFlags *reasons)
{
    return (reasons->numbits + 7) / 8;
}

BOOL DistributionPoint_GetBufferSize(Asn1Context *ctx, const DistributionPoint *point,
                                     FlatCursor *cursor, DistPointHandover *handover)
{
    if (point->m.distributionPointPresent &&
        !DistributionPointName_GetBufferSize(ctx, &point->distributionPoint, cursor,
                                             &handover->fullNameEncodings))
        return FALSE;
    if (point->m.reasonsPresent) cursor->Take(ReasonFlagsByteCount(&point->reasons));
    if (point->m.cRLIssuerPresent &&
        !GeneralNames_GetBufferSize(ctx, &point->cRLIssuer, cursor, &handover->crlIssuerEncodings))
        return FALSE;
    return TRUE;
}

BOOL CrlDistributionPoints_GetBufferSize(Asn1Context *ctx, void *value, DWORD *pcbStructInfo,
                                         void **ppHandover)
{
    const auto *points = static_cast<const CRLDistPointsSyntax *>(value);
    auto *handovers = static_cast<DistPointHandover *>(
        ASN1MALLOCZ(ctx, size_t{points->count} * sizeof(DistPointHandover)));
    if (!handovers) {
        KV_TRACE_ERROR("ASN1MALLOCZ() failed");
        return FailWith(NTE_NO_MEMORY);
    }
    FlatCursor cursor{nullptr, 0};
    cursor.TakeArray<CRL_DIST_POINTS_INFO>(1);
    cursor.TakeArray<CRL_DIST_POINT>(points->count);
    DistPointHandover *handover = handovers;
    for (const DListNode *node = points->head; node; node = node->next, ++handover) {
        const auto *point = static_cast<const DistributionPoint *>(node->data);
        if (!DistributionPoint_GetBufferSize(ctx, point, &cursor, handover)) return FALSE;
    }
    if (cursor.offset >
        std::numeric_limits<DWORD>::max()) { // sizes are DWORDs at the CryptoAPI interface
        KV_TRACE_ERROR("decoded structure is too large");
        return FailWith(NTE_NO_MEMORY);
    }
    *pcbStructInfo = static_cast<DWORD>(cursor.offset);
    *ppHandover = handovers;
    return TRUE;
}

// ------------------------------------------------------------------ fill step

BOOL DistributionPointName_FillBuffer(Asn1Context *ctx, const DistributionPointName *pointName,
                                      CRL_DIST_POINT_NAME *pPointName, FlatCursor *cursor,
                                      const CRYPT_DATA_BLOB *encodings)
{
    switch (pointName->t) {
    case kFullName:
        pPointName->dwDistPointNameChoice = CRL_DIST_POINT_FULL_NAME;
        return GeneralNames_FillBuffer(ctx, pointName->u.fullName, &pPointName->FullName, cursor,
                                       encodings);
    case kNameRelativeToCRLIssuer:
        pPointName->dwDistPointNameChoice = CRL_DIST_POINT_ISSUER_RDN_NAME;
        return TRUE;
    default:
        KV_TRACE_ERROR("unknown DistributionPointName choice value");
        return FailWith(CRYPT_E_ASN1_ERROR);
    }
}

// cbData whole bytes of which the last cUnusedBits are unused, copied to the cursor.
void ReasonFlags_FillBuffer(const ReasonFlags *reasons, CRYPT_BIT_BLOB *pReasons,
                            FlatCursor *cursor)
{
    pReasons->cbData = ReasonFlagsByteCount(reasons);
    pReasons->cUnusedBits = pReasons->cbData * 8 - reasons->numbits;
    pReasons->pbData = cursor->Take(pReasons->cbData);
    std::memcpy(pReasons->pbData, reasons->data, pReasons->cbData);
}

// Every field is written: absent parts read as empty, the caller's bytes never show through.
BOOL DistributionPoint_FillBuffer(Asn1Context *ctx, const DistributionPoint *point,
                                  CRL_DIST_POINT *pPoint, FlatCursor *cursor,
                                  const DistPointHandover *handover)
{
    std::memset(pPoint, 0, sizeof *pPoint);
    if (point->m.distributionPointPresent &&
        !DistributionPointName_FillBuffer(ctx, &point->distributionPoint, &pPoint->DistPointName,
                                          cursor, handover->fullNameEncodings))
        return FALSE;
    if (point->m.reasonsPresent)
        ReasonFlags_FillBuffer(&point->reasons, &pPoint->ReasonFlags, cursor);
    if (point->m.cRLIssuerPresent &&
        !GeneralNames_FillBuffer(ctx, &point->cRLIssuer, &pPoint->CRLIssuer, cursor,
                                 handover->crlIssuerEncodings))
        return FALSE;
    return TRUE;
}

BOOL CrlDistributionPoints_FillBuffer(Asn1Context *ctx, void *value, void *pvBuffer, DWORD cbBuffer,
                                      void **ppHandover)
{
    const auto *points = static_cast<const CRLDistPointsSyntax *>(value);
    const auto *handover = static_cast<const DistPointHandover *>(*ppHandover);
    FlatCursor cursor{static_cast<BYTE *>(pvBuffer), 0};
    auto *pInfo = cursor.TakeArray<CRL_DIST_POINTS_INFO>(1);
    pInfo->cDistPoint = points->count;
    pInfo->rgDistPoint = cursor.TakeArray<CRL_DIST_POINT>(points->count);
    CRL_DIST_POINT *pPoint = pInfo->rgDistPoint;
    for (const DListNode *node = points->head; node; node = node->next, ++pPoint, ++handover) {
        const auto *point = static_cast<const DistributionPoint *>(node->data);
        if (!DistributionPoint_FillBuffer(ctx, point, pPoint, &cursor, handover)) return FALSE;
    }
    return CheckFilledSize(__func__, cursor.offset, cbBuffer);
}

} // namespace

KV_DEFINE_ENCODE_ENTRY_POINTS(CrlDistributionPoints, CRLDistPointsSyntax, asn1E_CRLDistPointsSyntax,
                              CrlDistributionPoints_FillAsn1cObject)
KV_DEFINE_DECODE_ENTRY_POINTS(CrlDistributionPoints, CRLDistPointsSyntax, asn1D_CRLDistPointsSyntax,
                              CrlDistributionPoints_GetBufferSize, CrlDistributionPoints_FillBuffer)

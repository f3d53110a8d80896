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

namespace {

// ReasonFlags of at most 2 bytes, the unused bits counted in the last one.
BOOL ReasonFlags_FillAsn1cObject(TraceSite site, const CRYPT_BIT_BLOB *pReasons,
                                 ReasonFlags *reasons)
{
    if (pReasons->cbData > sizeof reasons->data || pReasons->cUnusedBits > 7)
        return KV_FAIL_AT(site, ERROR_INVALID_PARAMETER, "Malformed CRL_DIST_POINTS_INFO");
    reasons->numbits = pReasons->cbData * 8 - pReasons->cUnusedBits;
    std::memcpy(reasons->data, pReasons->pbData, pReasons->cbData);
    return TRUE;
}

BOOL DistributionPointName_FillAsn1cObject(TraceSite site, Asn1Context *ctx,
                                           const CERT_ALT_NAME_INFO *pFullName,
                                           DistributionPointName *pointName)
{
    auto *fullName = ContextNew<GeneralNames>(site, ctx, "ALLOC_ASN1ELEM() failed");
    if (!fullName) return FALSE;
    pointName->t = T_DistributionPointName_fullName;
    pointName->u.fullName = fullName;
    return GeneralNames_FillAsn1cObject(ctx, pFullName, fullName);
}

// Only a full name is written; a point without one, or named relative to its CRL issuer,
// goes out without distributionPoint.
BOOL DistributionPoint_FillAsn1cObject(TraceSite site, Asn1Context *ctx,
                                       const CRL_DIST_POINT *pPoint, DistributionPoint *point)
{
    if (pPoint->DistPointName.dwDistPointNameChoice == CRL_DIST_POINT_FULL_NAME) {
        point->m.distributionPointPresent = 1;
        if (!DistributionPointName_FillAsn1cObject(site, ctx, &pPoint->DistPointName.FullName,
                                                   &point->distributionPoint))
            return FALSE;
    }
    if (pPoint->ReasonFlags.cbData && pPoint->ReasonFlags.pbData) {
        point->m.reasonsPresent = 1;
        if (!ReasonFlags_FillAsn1cObject(site, &pPoint->ReasonFlags, &point->reasons)) return FALSE;
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
    if (pInfo->cDistPoint && !pInfo->rgDistPoint)
        return KV_FAIL(ERROR_INVALID_PARAMETER, "Malformed CRL_DIST_POINTS_INFO");
    for (DWORD i = 0; i < pInfo->cDistPoint; ++i) {
        auto *point = NewListElement<DistributionPoint>(KV_HERE, ctx);
        if (!point) return FALSE;
        if (!DistributionPoint_FillAsn1cObject(KV_HERE, ctx, &pInfo->rgDistPoint[i], point))
            return FALSE;
        rtDListAppendNode(ctx, points, point);
    }
    return TRUE;
}

// ------------------------------------------------------------------ flat result

// A name relative to the CRL issuer is reported without its RDN and so takes no room.
BOOL DistributionPointName_Layout(Asn1Context *ctx, const DistributionPointName *pointName,
                                  CRL_DIST_POINT_NAME *pPointName, FlatCursor *cursor)
{
    switch (pointName->t) {
    case T_DistributionPointName_fullName:
        pPointName->dwDistPointNameChoice = CRL_DIST_POINT_FULL_NAME;
        return GeneralNames_Layout(ctx, pointName->u.fullName, &pPointName->FullName, cursor);
    case T_DistributionPointName_nameRelativeToCRLIssuer:
        pPointName->dwDistPointNameChoice = CRL_DIST_POINT_ISSUER_RDN_NAME;
        return TRUE;
    default:
        return KV_FAIL_AT(cursor->site, CRYPT_E_ASN1_ERROR,
                          "unknown DistributionPointName choice value");
    }
}

// cbData whole bytes of which the last cUnusedBits are unused.
void ReasonFlags_Layout(const ReasonFlags *reasons, CRYPT_BIT_BLOB *pReasons, FlatCursor *cursor)
{
    const DWORD cbData = (reasons->numbits + 7) / 8;
    BYTE *at = TakeItem(cursor, cbData);
    if (!at) return;
    std::memcpy(at, reasons->data, cbData);
    *pReasons = {cbData, at, cbData * 8 - reasons->numbits};
}

// Absent parts stay zero: the caller's bytes never show through.
BOOL DistributionPoint_Layout(Asn1Context *ctx, const DistributionPoint *point,
                              CRL_DIST_POINT *pPoint, FlatCursor *cursor)
{
    if (point->m.distributionPointPresent &&
        !DistributionPointName_Layout(ctx, &point->distributionPoint, &pPoint->DistPointName,
                                      cursor))
        return FALSE;
    if (point->m.reasonsPresent) ReasonFlags_Layout(&point->reasons, &pPoint->ReasonFlags, cursor);
    return !point->m.cRLIssuerPresent ||
           GeneralNames_Layout(ctx, &point->cRLIssuer, &pPoint->CRLIssuer, cursor);
}

BOOL CrlDistributionPoints_Layout(Asn1Context *ctx, CRLDistPointsSyntax *points, FlatCursor *cursor)
{
    CRL_DIST_POINTS_INFO scratch{};
    CRL_DIST_POINTS_INFO &info = ElementOr(TakeItems<CRL_DIST_POINTS_INFO>(cursor, 1), 0, scratch);
    info.cDistPoint = points->count;
    info.rgDistPoint = TakeItems<CRL_DIST_POINT>(cursor, points->count);
    CRL_DIST_POINT scratchPoint{};
    size_t index = 0;
    for (const DListNode *node = points->head; node; node = node->next, ++index) {
        const auto *point = static_cast<const DistributionPoint *>(node->data);
        if (!DistributionPoint_Layout(ctx, point, &ElementOr(info.rgDistPoint, index, scratchPoint),
                                      cursor))
            return FALSE;
    }
    return TRUE;
}

KV_DEFINE_FLAT_RESULT_CALLBACKS(CrlDistributionPoints, CrlDistributionPoints_Layout)

} // namespace

KV_DEFINE_ENCODE_ENTRY_POINTS(CrlDistributionPoints, CRLDistPointsSyntax, asn1E_CRLDistPointsSyntax,
                              CrlDistributionPoints_FillAsn1cObject)
KV_DEFINE_DECODE_ENTRY_POINTS(CrlDistributionPoints, CRLDistPointsSyntax, asn1D_CRLDistPointsSyntax,
                              CrlDistributionPoints_GetBufferSize, CrlDistributionPoints_FillBuffer)

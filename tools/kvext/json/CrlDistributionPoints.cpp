// CRL_DIST_POINTS_INFO <-> {"DistPoints": [{"DistPointName", "ReasonFlags", "CRLIssuer"}]}.
// DistPointName is {"FullName": [general names]}, or {"IssuerRDN": true} for a name relative
// to the CRL issuer (CryptoAPI reports that choice without the name); absent for no name.
// ReasonFlags is {"Data": hex, "UnusedBits": n}; it and CRLIssuer are absent when empty.
#include "json/Mapping.h"

namespace kvext::tool {

namespace {

Json DistPointJson(const CRL_DIST_POINT &point)
{
    Json json = Json::object();
    switch (point.DistPointName.dwDistPointNameChoice) {
    case CRL_DIST_POINT_NO_NAME: break;
    case CRL_DIST_POINT_FULL_NAME:
        json["DistPointName"] = Json{{"FullName", AltNamesJson(point.DistPointName.FullName)}};
        break;
    case CRL_DIST_POINT_ISSUER_RDN_NAME: json["DistPointName"] = Json{{"IssuerRDN", true}}; break;
    default: json["DistPointName"] = Json{{"Unknown", point.DistPointName.dwDistPointNameChoice}};
    }
    if (point.ReasonFlags.cbData)
        json["ReasonFlags"] = Json{{"Data", HexText(point.ReasonFlags.pbData, point.ReasonFlags.cbData)},
                                   {"UnusedBits", point.ReasonFlags.cUnusedBits}};
    if (point.CRLIssuer.cAltEntry) json["CRLIssuer"] = AltNamesJson(point.CRLIssuer);
    return json;
}

CRL_DIST_POINT_NAME DistPointNameFrom(const Field &field, Arena &arena)
{
    field.ExpectMembers({"FullName", "IssuerRDN"});
    CRL_DIST_POINT_NAME name = {};
    if (auto fullName = field.Find("FullName")) {
        name.dwDistPointNameChoice = CRL_DIST_POINT_FULL_NAME;
        name.FullName = AltNamesFrom(*fullName, arena);
    } else if (auto issuerRdn = field.Find("IssuerRDN")) {
        issuerRdn->Bool();
        name.dwDistPointNameChoice = CRL_DIST_POINT_ISSUER_RDN_NAME;
    } else {
        field.Fail("expected FullName or IssuerRDN");
    }
    return name;
}

CRL_DIST_POINT DistPointFrom(const Field &field, Arena &arena)
{
    field.ExpectMembers({"DistPointName", "ReasonFlags", "CRLIssuer"});
    CRL_DIST_POINT point = {};
    if (auto name = field.Find("DistPointName"))
        point.DistPointName = DistPointNameFrom(*name, arena);
    if (auto reasons = field.Find("ReasonFlags")) {
        reasons->ExpectMembers({"Data", "UnusedBits"});
        const CRYPT_DATA_BLOB data = BlobFrom(reasons->At("Data"), arena);
        point.ReasonFlags = CRYPT_BIT_BLOB{data.cbData, data.pbData, 0};
        if (auto unused = reasons->Find("UnusedBits")) point.ReasonFlags.cUnusedBits = unused->Number();
    }
    if (auto issuer = field.Find("CRLIssuer")) point.CRLIssuer = AltNamesFrom(*issuer, arena);
    return point;
}

} // namespace

Json CrlDistributionPointsToJson(const void *pvStructInfo)
{
    const auto *info = static_cast<const CRL_DIST_POINTS_INFO *>(pvStructInfo);
    Json points = Json::array();
    for (DWORD i = 0; i < info->cDistPoint; ++i) points.push_back(DistPointJson(info->rgDistPoint[i]));
    return Json{{"DistPoints", std::move(points)}};
}

const void *CrlDistributionPointsFromJson(const Field &value, Arena &arena)
{
    value.ExpectMembers({"DistPoints"});
    const std::vector<Field> items = value.At("DistPoints").Items();
    auto *info = arena.New<CRL_DIST_POINTS_INFO>();
    auto *points = arena.New<CRL_DIST_POINT>(items.size());
    for (size_t i = 0; i < items.size(); ++i) points[i] = DistPointFrom(items[i], arena);
    info->cDistPoint = static_cast<DWORD>(items.size());
    info->rgDistPoint = items.empty() ? nullptr : points;
    return info;
}

} // namespace kvext::tool

// What the three signing-certificate mappings share: the certificate identifier list and the
// policies, {"Certs": [...], "Policies": [...]}, policies left out when there are none.
#pragma once

#include "json/Mapping.h"

#include <kvext/ess.h>

namespace kvext::tool {

Json IssuerSerialJson(const KVCMSG_ISSUER_SERIAL &issuerSerial);
KVCMSG_ISSUER_SERIAL IssuerSerialFrom(const Field &field, Arena &arena);

// {"HashAlgorithm": ..., "CertHash": hex, "IssuerSerial": ...}: the algorithm only where the
// identifier carries one, the issuer and serial only when present.
template <typename CertId> Json CertIdJson(const CertId &id)
{
    Json json = Json::object();
    if constexpr (requires { id.HashAlgorithm; })
        json["HashAlgorithm"] = AlgorithmJson(id.HashAlgorithm);
    json["CertHash"] = BlobJson(id.CertHash);
    if (id.IssuerSerial.Issuer.cbData) json["IssuerSerial"] = IssuerSerialJson(id.IssuerSerial);
    return json;
}

template <typename CertId> CertId CertIdFrom(const Field &field, Arena &arena)
{
    CertId id = {};
    if constexpr (requires { id.HashAlgorithm; }) {
        field.ExpectMembers({"HashAlgorithm", "CertHash", "IssuerSerial"});
        id.HashAlgorithm = AlgorithmFrom(field.At("HashAlgorithm"), arena);
    } else {
        field.ExpectMembers({"CertHash", "IssuerSerial"});
    }
    id.CertHash = BlobFrom(field.At("CertHash"), arena);
    if (auto issuerSerial = field.Find("IssuerSerial"))
        id.IssuerSerial = IssuerSerialFrom(*issuerSerial, arena);
    return id;
}

template <typename Info> Json SigningCertificateJson(const void *pvStructInfo)
{
    const auto *info = static_cast<const Info *>(pvStructInfo);
    Json certs = Json::array();
    for (DWORD i = 0; i < info->cCerts; ++i) certs.push_back(CertIdJson(info->rgCerts[i]));
    Json json{{"Certs", std::move(certs)}};
    if (info->cPolicies) json["Policies"] = PoliciesJson(info->cPolicies, info->rgPolicies);
    return json;
}

template <typename Info> const void *SigningCertificateFrom(const Field &value, Arena &arena)
{
    using CertId = std::remove_pointer_t<decltype(Info::rgCerts)>;
    value.ExpectMembers({"Certs", "Policies"});
    const std::vector<Field> items = value.At("Certs").Items();
    auto *info = arena.New<Info>();
    auto *certs = arena.New<CertId>(items.size());
    for (size_t i = 0; i < items.size(); ++i) certs[i] = CertIdFrom<CertId>(items[i], arena);
    info->cCerts = static_cast<DWORD>(items.size());
    info->rgCerts = items.empty() ? nullptr : certs;
    if (auto policies = value.Find("Policies"))
        PoliciesFrom(*policies, arena, &info->cPolicies, &info->rgPolicies);
    return info;
}

} // namespace kvext::tool

// The structure types the tool knows, with the OIDs they are registered under.
#include "json/Mapping.h"

#include <strings.h>

#include <cstdlib>

namespace kvext::tool {

const std::vector<Structure> &Structures()
{
    static const std::vector<Structure> kStructures = {
        {"PrivateKeyUsagePeriod", {"2.5.29.16"}, nullptr, PrivateKeyUsagePeriodToJson,
         PrivateKeyUsagePeriodFromJson},
        {"CrlDistributionPoints", {"2.5.29.31", "2.5.29.46"}, X509_CRL_DIST_POINTS,
         CrlDistributionPointsToJson, CrlDistributionPointsFromJson},
        {"IssuerSignTool", {"1.2.643.100.112"}, nullptr, IssuerSignToolToJson,
         IssuerSignToolFromJson},
        {"SigningCertificate", {"1.2.840.113549.1.9.16.2.12"}, nullptr, SigningCertificateToJson,
         SigningCertificateFromJson},
        {"SigningCertificateV2", {"1.2.840.113549.1.9.16.2.47"}, nullptr,
         SigningCertificateV2ToJson, SigningCertificateV2FromJson},
        {"OtherSigningCertificate", {"1.2.840.113549.1.9.16.2.19"}, nullptr,
         OtherSigningCertificateToJson, OtherSigningCertificateFromJson},
        {"GostPrivateCertificateStore",
         {"1.2.643.2.2.37.3.1", "1.2.643.2.2.37.3.2", "1.2.643.2.2.37.3.3"}, nullptr,
         GostPrivateCertificateStoreToJson, GostPrivateCertificateStoreFromJson},
        {"PrivateKeyDeriveCounter", {"1.2.643.2.2.37.3.6"}, nullptr,
         PrivateKeyDeriveCounterToJson, PrivateKeyDeriveCounterFromJson},
    };
    return kStructures;
}

const Structure *FindStructure(const std::string &nameOrOid)
{
    for (const Structure &structure : Structures()) {
        if (!strcasecmp(structure.name, nameOrOid.c_str())) return &structure;
        for (const char *oid : structure.oids)
            if (nameOrOid == oid) return &structure;
        if (structure.numericType && nameOrOid.find_first_not_of("0123456789") == std::string::npos &&
            std::strtoul(nameOrOid.c_str(), nullptr, 10) ==
                reinterpret_cast<uintptr_t>(structure.numericType))
            return &structure;
    }
    return nullptr;
}

} // namespace kvext::tool

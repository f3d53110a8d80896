// KVCERT_PRIVATE_KEY_USAGE_PERIOD <-> {"NotBefore": time, "NotAfter": time}, an absent bound
// left out.
#include "json/Mapping.h"

#include <kvext/certext.h>

namespace kvext::tool {

Json PrivateKeyUsagePeriodToJson(const void *pvStructInfo)
{
    const auto *period = static_cast<const KVCERT_PRIVATE_KEY_USAGE_PERIOD *>(pvStructInfo);
    Json json = Json::object();
    if (period->pNotBefore) json["NotBefore"] = TimeJson(*period->pNotBefore);
    if (period->pNotAfter) json["NotAfter"] = TimeJson(*period->pNotAfter);
    return json;
}

const void *PrivateKeyUsagePeriodFromJson(const Field &value, Arena &arena)
{
    value.ExpectMembers({"NotBefore", "NotAfter"});
    auto *period = arena.New<KVCERT_PRIVATE_KEY_USAGE_PERIOD>();
    if (auto notBefore = value.Find("NotBefore"))
        period->pNotBefore = new (arena.New<FILETIME>()) FILETIME(notBefore->Time());
    if (auto notAfter = value.Find("NotAfter"))
        period->pNotAfter = new (arena.New<FILETIME>()) FILETIME(notAfter->Time());
    return period;
}

} // namespace kvext::tool

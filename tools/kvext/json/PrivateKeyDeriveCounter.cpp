// The key-derivation counter, one DWORD <-> {"Counter": number}. The library decodes it only;
// encoding goes to CryptoAPI all the same, which answers for the missing function.
#include "json/Mapping.h"

namespace kvext::tool {

Json PrivateKeyDeriveCounterToJson(const void *pvStructInfo)
{
    return Json{{"Counter", *static_cast<const DWORD *>(pvStructInfo)}};
}

const void *PrivateKeyDeriveCounterFromJson(const Field &value, Arena &arena)
{
    value.ExpectMembers({"Counter"});
    auto *counter = arena.New<DWORD>();
    *counter = value.At("Counter").Number();
    return counter;
}

} // namespace kvext::tool

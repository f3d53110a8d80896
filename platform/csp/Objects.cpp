#include "Objects.h"

#include <cstring>
#include <unordered_map>

namespace kvcsp {
namespace {

struct HandleTable {
    ULONG_PTR nextHandle = 0;
    std::unordered_map<ULONG_PTR, std::unique_ptr<ProviderObject>> providers;
    std::unordered_map<ULONG_PTR, std::unique_ptr<KeyObject>> keys;
};

HandleTable &Table()
{
    static HandleTable table;
    return table;
}

ULONG_PTR NewHandle()
{
    HandleTable &table = Table();
    if (table.nextHandle == 0) {
        uint32_t start = 0;
        RandomBytes(std::span(reinterpret_cast<BYTE *>(&start), sizeof start));
        table.nextHandle = 0x10000 + (start & 0x3FFFFFFF);
    }
    return table.nextHandle++;
}

template <class Map> auto *Find(Map &map, ULONG_PTR handle)
{
    const auto found = map.find(handle);
    return found == map.end() ? nullptr : found->second.get();
}

} // namespace

std::mutex &ProviderLock()
{
    static std::mutex lock;
    return lock;
}

ProviderObject *FindProvider(HCRYPTPROV hProv)
{
    return Find(Table().providers, hProv);
}

KeyObject *FindKey(HCRYPTKEY hKey)
{
    return Find(Table().keys, hKey);
}

HCRYPTPROV AddProvider(ProviderObject provider)
{
    const ULONG_PTR handle = NewHandle();
    Table().providers.emplace(handle, std::make_unique<ProviderObject>(std::move(provider)));
    return handle;
}

HCRYPTKEY AddKey(KeyObject key)
{
    const ULONG_PTR handle = NewHandle();
    Table().keys.emplace(handle, std::make_unique<KeyObject>(std::move(key)));
    return handle;
}

bool RemoveProvider(HCRYPTPROV hProv)
{
    return Table().providers.erase(hProv) == 1;
}

bool RemoveKey(HCRYPTKEY hKey)
{
    return Table().keys.erase(hKey) == 1;
}

size_t LiveObjectCount()
{
    return Table().providers.size() + Table().keys.size();
}

DWORD PrepareOutput(DWORD cbNeeded, const BYTE *pbData, DWORD *pdwDataLen, bool *write)
{
    *write = false;
    if (!pdwDataLen) return ERROR_INVALID_PARAMETER;
    const DWORD cbAvailable = *pdwDataLen;
    *pdwDataLen = cbNeeded;
    if (!pbData) return ERROR_SUCCESS;
    if (cbAvailable < cbNeeded) return ERROR_MORE_DATA;
    *write = true;
    return ERROR_SUCCESS;
}

DWORD CopyOutput(std::span<const BYTE> result, BYTE *pbData, DWORD *pdwDataLen)
{
    bool write = false;
    const DWORD status =
        PrepareOutput(static_cast<DWORD>(result.size()), pbData, pdwDataLen, &write);
    if (write && !result.empty()) std::memcpy(pbData, result.data(), result.size());
    return status;
}

bool ReadParamSets(EVP_PKEY *pkey, const KeyFamily &family, std::string *publicKeyParamSet,
                   std::string *hashParamSet)
{
    EncodedPublicKey encoded;
    std::vector<std::string> oids;
    if (!EncodePublicKey(pkey, &encoded) || !DecodeOidSequence(encoded.parameters, &oids))
        return false;
    *publicKeyParamSet = oids[0];
    *hashParamSet = oids.size() > 1 ? oids[1] : family.digestOid;
    return true;
}

} // namespace kvcsp

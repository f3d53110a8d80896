// Provider contexts and key creation: CryptAcquireContextA, CryptReleaseContext,
// CryptGenKey, CryptGetUserKey, CryptDestroyKey, CryptSetProvParam.
#include "Objects.h"

#include <kvcsp_testing.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

using namespace kvcsp;

namespace {

constexpr DWORD kAcquireFlags =
    CRYPT_VERIFYCONTEXT | CRYPT_SILENT | CRYPT_MACHINE_KEYSET | KV_CRYPT_PROVIDER_SPECIFIC_FLAG;
constexpr DWORD kGenKeyFlags = CRYPT_EXPORTABLE | CRYPT_PREGEN;

// The PEM file of a container: an absolute path as it is, a plain name under
// $KV_CSP_CONTAINER_DIR with ".pem" appended.
DWORD ContainerPath(std::string_view container, std::string *path)
{
    if (container.front() == '/') {
        *path = container;
        return ERROR_SUCCESS;
    }
    if (container == "." || container == ".." || container.find('/') != std::string_view::npos)
        return NTE_BAD_KEYSET_PARAM;
    const char *directory = std::getenv("KV_CSP_CONTAINER_DIR");
    if (!directory || !*directory) return NTE_BAD_KEYSET;
    path->assign(directory).append("/").append(container).append(".pem");
    return ERROR_SUCCESS;
}

DWORD OpenContainer(LPCSTR szContainer, ProviderObject *provider)
{
    if (!szContainer || !*szContainer) return NTE_BAD_KEYSET;
    std::string path;
    const DWORD status = ContainerPath(szContainer, &path);
    if (status != ERROR_SUCCESS) return status;
    provider->exchangeKey = ReadPrivateKeyFile(path);
    return provider->exchangeKey ? ERROR_SUCCESS : NTE_BAD_KEYSET;
}

DWORD CheckAcquireArguments(LPCSTR szProvider, DWORD dwProvType, DWORD dwFlags)
{
    if (dwProvType != KV_PROV_GOST) return NTE_BAD_PROV_TYPE;
    if (szProvider && std::strcmp(szProvider, KV_GOST_PROVIDER_NAME_A) != 0)
        return NTE_BAD_PROVIDER;
    const DWORD verify = dwFlags & CRYPT_VERIFYCONTEXT;
    if ((dwFlags & ~kAcquireFlags) || (verify && verify != CRYPT_VERIFYCONTEXT))
        return NTE_BAD_FLAGS;
    return GostEngineAvailable() ? ERROR_SUCCESS : NTE_FAIL;
}

DWORD NewSessionKey(const ProviderObject &provider, DWORD dwFlags, KeyObject *key)
{
    if (dwFlags & CRYPT_PREGEN) return NTE_BAD_FLAGS;
    SessionKey session;
    session.paramSet = provider.cipherParamSet;
    if (!RandomBytes(session.value) || !RandomBytes(session.iv)) return NTE_FAIL;
    session.exportable = dwFlags & CRYPT_EXPORTABLE;
    *key = std::move(session);
    return ERROR_SUCCESS;
}

// An ephemeral key pair on the family's default curve, or, with CRYPT_PREGEN, one that waits
// for its parameter sets and KP_X.
DWORD NewEphemeralKey(const KeyFamily &family, DWORD dwFlags, KeyObject *key)
{
    KeyPair pair;
    pair.family = &family;
    pair.algId = family.ephemeralAlgId;
    pair.publicKeyParamSet = family.defaultParamSet;
    pair.hashParamSet = family.digestOid;
    if (!(dwFlags & CRYPT_PREGEN)) {
        pair.pkey = GenerateKeyPair(family, pair.publicKeyParamSet);
        if (!pair.pkey) return NTE_FAIL;
    }
    *key = std::move(pair);
    return ERROR_SUCCESS;
}

// The upper 16 bits of CryptGenKey's flags give the key size in bits, 0 for the default.
bool KeySizeAccepted(DWORD dwFlags, DWORD bits)
{
    const DWORD requested = dwFlags >> 16;
    return requested == 0 || requested == bits;
}

DWORD GenerateKey(const ProviderObject &provider, ALG_ID Algid, DWORD dwFlags, KeyObject *key)
{
    if (Algid == ALG_GOST_28147) {
        if (!KeySizeAccepted(dwFlags, 256) || (dwFlags & 0xFFFF & ~kGenKeyFlags))
            return NTE_BAD_FLAGS;
        return NewSessionKey(provider, dwFlags, key);
    }
    const KeyFamily *family = FamilyByAlgId(Algid);
    if (!family || Algid != family->ephemeralAlgId) return NTE_BAD_ALGID;
    if (!KeySizeAccepted(dwFlags, family->keyBytes * 4) || (dwFlags & 0xFFFF & ~kGenKeyFlags))
        return NTE_BAD_FLAGS;
    return NewEphemeralKey(*family, dwFlags, key);
}

DWORD ExchangeKeyOf(const ProviderObject &provider, KeyObject *key)
{
    const KeyFamily *family = FamilyOf(provider.exchangeKey.get());
    KeyPair pair;
    pair.family = family;
    pair.algId = family->exchangeAlgId;
    pair.pkey = provider.exchangeKey;
    if (!ReadParamSets(pair.pkey.get(), *family, &pair.publicKeyParamSet, &pair.hashParamSet))
        return NTE_FAIL;
    *key = std::move(pair);
    return ERROR_SUCCESS;
}

} // namespace

BOOL WINAPI CryptAcquireContextA(HCRYPTPROV *phProv, LPCSTR szContainer, LPCSTR szProvider,
                                 DWORD dwProvType, DWORD dwFlags)
{
    return RunEntry([&]() -> DWORD {
        if (!phProv) return ERROR_INVALID_PARAMETER;
        DWORD status = CheckAcquireArguments(szProvider, dwProvType, dwFlags);
        if (status != ERROR_SUCCESS) return status;
        ProviderObject provider;
        if (dwFlags & CRYPT_VERIFYCONTEXT) {
            if (szContainer && *szContainer)
                return NTE_BAD_FLAGS; // a provider without a container names none
        } else if ((status = OpenContainer(szContainer, &provider)) != ERROR_SUCCESS) {
            return status;
        }
        *phProv = AddProvider(std::move(provider));
        return ERROR_SUCCESS;
    });
}

BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags)
{
    return RunEntry([&]() -> DWORD {
        if (!FindProvider(hProv)) return NTE_BAD_UID;
        if (dwFlags != 0) return NTE_BAD_FLAGS;
        RemoveProvider(hProv);
        return ERROR_SUCCESS;
    });
}

BOOL WINAPI CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY *phKey)
{
    return RunEntry([&]() -> DWORD {
        const ProviderObject *provider = FindProvider(hProv);
        if (!provider) return NTE_BAD_UID;
        if (!phKey) return ERROR_INVALID_PARAMETER;
        KeyObject key;
        const DWORD status = GenerateKey(*provider, Algid, dwFlags, &key);
        if (status == ERROR_SUCCESS) *phKey = AddKey(std::move(key));
        return status;
    });
}

BOOL WINAPI CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY *phUserKey)
{
    return RunEntry([&]() -> DWORD {
        const ProviderObject *provider = FindProvider(hProv);
        if (!provider) return NTE_BAD_UID;
        if (!phUserKey) return ERROR_INVALID_PARAMETER;
        if (dwKeySpec != AT_KEYEXCHANGE || !provider->exchangeKey) return NTE_NO_KEY;
        KeyObject key;
        const DWORD status = ExchangeKeyOf(*provider, &key);
        if (status == ERROR_SUCCESS) *phUserKey = AddKey(std::move(key));
        return status;
    });
}

BOOL WINAPI CryptDestroyKey(HCRYPTKEY hKey)
{
    return RunEntry([&]() -> DWORD { return RemoveKey(hKey) ? ERROR_SUCCESS : NTE_BAD_KEY; });
}

BOOL WINAPI CryptSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE *pbData, DWORD dwFlags)
{
    return RunEntry([&]() -> DWORD {
        ProviderObject *provider = FindProvider(hProv);
        if (!provider) return NTE_BAD_UID;
        if (dwFlags != 0) return NTE_BAD_FLAGS;
        if (dwParam != PP_GOST_CIPHER_PARAMSET) return NTE_BAD_TYPE;
        if (!pbData) return ERROR_INVALID_PARAMETER;
        const Gost28147ParamSet *found =
            FindGost28147ParamSet(reinterpret_cast<const char *>(pbData));
        if (!found) return NTE_BAD_DATA;
        provider->cipherParamSet = found;
        return ERROR_SUCCESS;
    });
}

extern "C" DWORD WINAPI KvCspLiveObjectCount(void)
{
    std::lock_guard<std::mutex> lock(ProviderLock());
    return static_cast<DWORD>(LiveObjectCount());
}

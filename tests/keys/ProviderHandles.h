// Provider handles for the tests, released at scope exit: a container whose key pair is an
// OpenSSL-made PEM key, or a provider without a container.
#pragma once

#include <wincrypt.h>

#include <memory>
#include <string>

namespace kvtest {

// The platform provider's type. Its header is not included here: it spells the same names as
// the library's vocabulary, which the tests include.
constexpr DWORD kProvGost = 75;

struct ProvReleaser {
    void operator()(HCRYPTPROV *phProv) const
    {
        if (*phProv) CryptReleaseContext(*phProv, 0);
        delete phProv;
    }
};
using ScopedProv = std::unique_ptr<HCRYPTPROV, ProvReleaser>;

struct KeyReleaser {
    void operator()(HCRYPTKEY *phKey) const
    {
        if (*phKey) CryptDestroyKey(*phKey);
        delete phKey;
    }
};
using ScopedKey = std::unique_ptr<HCRYPTKEY, KeyReleaser>;

inline ScopedKey NewScopedKey()
{
    return ScopedKey(new HCRYPTKEY(0));
}

// The container is the key pair's PEM file (an absolute path); null: no container.
inline ScopedProv AcquireProvider(const std::string *keyPemPath)
{
    ScopedProv hProv(new HCRYPTPROV(0));
    const BOOL ok =
        keyPemPath
            ? CryptAcquireContextA(hProv.get(), keyPemPath->c_str(), nullptr, kProvGost, 0)
            : CryptAcquireContextA(hProv.get(), nullptr, nullptr, kProvGost, CRYPT_VERIFYCONTEXT);
    if (!ok) *hProv = 0;
    return hProv;
}

} // namespace kvtest

// The provider's objects behind the opaque CryptoAPI handles, the handle table, and the
// frame every entry point runs in.
#pragma once

#include "Engine.h"
#include "Gost28147.h"
#include "GostParams.h"

#include <openssl/crypto.h>

#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <string>
#include <variant>

namespace kvcsp {

struct ProviderObject {
    Pkey exchangeKey; // the container's key pair; null for CRYPT_VERIFYCONTEXT
    // The parameter set of the GOST 28147-89 keys CryptGenKey makes (PP_GOST_CIPHER_PARAMSET).
    const Gost28147ParamSet *cipherParamSet = &DefaultGost28147ParamSet();
};

// A GOST 28147-89 key: its value, IV, parameter set and the CFB stream of the message in
// progress. The value is wiped when the key goes.
struct SessionKey {
    Gost28147Key value{};
    Gost28147Block iv{};
    const Gost28147ParamSet *paramSet = &DefaultGost28147ParamSet();
    bool exportable = false;
    CipherCtxPtr stream; // null between messages
    bool streamEncrypts = false;

    SessionKey() = default;
    SessionKey(SessionKey &&) = default;
    SessionKey &operator=(SessionKey &&) = default;
    ~SessionKey() { OPENSSL_cleanse(value.data(), value.size()); }
};

// A GOST R 34.10 key pair: a container's key-exchange key or an ephemeral key. An ephemeral
// key made with CRYPT_PREGEN has no pkey until KP_X completes it with the parameter sets
// set by then.
struct KeyPair {
    const KeyFamily *family = nullptr;
    ALG_ID algId = 0;
    Pkey pkey;
    std::string publicKeyParamSet;
    std::string hashParamSet;
    const Gost28147ParamSet *cipherParamSet = &DefaultGost28147ParamSet();
};

// A public key imported without a private key.
struct PublicKey {
    const KeyFamily *family = nullptr;
    Pkey pkey;
    std::string publicKeyParamSet;
    std::string hashParamSet;
};

// A key-agreement key: our private key and the peer's public key. Its key-encryption key
// is the VKO of the two under the UKM of each SIMPLEBLOB it exports or imports.
struct AgreementKey {
    Pkey own;
    Pkey peer;
    ALG_ID wrapAlgId = ALG_GOST_KEY_WRAP_DIVERS;
    const Gost28147ParamSet *cipherParamSet = &DefaultGost28147ParamSet();
};

using KeyObject = std::variant<SessionKey, KeyPair, PublicKey, AgreementKey>;

// Handle table. Handles are drawn from a counter with a random start and never reused, so a
// released, destroyed or foreign handle is simply not found. Callers hold the provider lock.
ProviderObject *FindProvider(HCRYPTPROV hProv);
KeyObject *FindKey(HCRYPTKEY hKey);
HCRYPTPROV AddProvider(ProviderObject provider);
HCRYPTKEY AddKey(KeyObject key);
bool RemoveProvider(HCRYPTPROV hProv);
bool RemoveKey(HCRYPTKEY hKey);
// Providers and keys alive, for the tests' leak checks.
size_t LiveObjectCount();

// The lock every entry point holds for its whole run: the provider's objects are touched by
// one call at a time.
std::mutex &ProviderLock();

// Runs an entry point's body, which returns ERROR_SUCCESS or the code for the last error,
// under the provider lock. A successful call leaves the last error alone; nothing thrown
// leaves the provider.
template <class Body> BOOL RunEntry(Body &&body) noexcept
{
    DWORD status = NTE_FAIL;
    try {
        std::lock_guard<std::mutex> lock(ProviderLock());
        status = body();
    } catch (const std::bad_alloc &) {
        status = NTE_NO_MEMORY;
    } catch (...) {
        status = NTE_FAIL;
    }
    if (status == ERROR_SUCCESS) return TRUE;
    SetLastError(status);
    return FALSE;
}

// CryptoAPI's output-buffer protocol for a result of `cbNeeded` bytes: *pdwDataLen always
// receives cbNeeded; a null pbData only asks for it; a buffer shorter than cbNeeded gets
// ERROR_MORE_DATA and is left alone. *write tells whether the result goes into pbData.
DWORD PrepareOutput(DWORD cbNeeded, const BYTE *pbData, DWORD *pdwDataLen, bool *write);
// The same protocol for a result that is already at hand.
DWORD CopyOutput(std::span<const BYTE> result, BYTE *pbData, DWORD *pdwDataLen);

// The public key's parameter sets as its encoding names them (the digest set falls back to
// the family's when the encoding leaves it out).
bool ReadParamSets(EVP_PKEY *pkey, const KeyFamily &family, std::string *publicKeyParamSet,
                   std::string *hashParamSet);

} // namespace kvcsp

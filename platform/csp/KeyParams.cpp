// Key parameters: CryptGetKeyParam and CryptSetKeyParam.
#include "Objects.h"

#include <cstring>
#include <string_view>
#include <vector>

using namespace kvcsp;

namespace {

template <class... Handlers> struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template <class... Handlers> Overloaded(Handlers...) -> Overloaded<Handlers...>;

using Bytes = std::vector<BYTE>;

Bytes DwordBytes(DWORD value)
{
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

// A dotted OID text with its terminating NUL.
Bytes TextBytes(std::string_view text)
{
    Bytes bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

DWORD GetSessionParam(const SessionKey &key, DWORD dwParam, Bytes *value)
{
    switch (dwParam) {
    case KP_ALGID:
        *value = DwordBytes(ALG_GOST_28147);
        break;
    case KP_KEYLEN:
        *value = DwordBytes(8 * sizeof key.value);
        break;
    case KP_BLOCKLEN:
        *value = DwordBytes(8 * sizeof key.iv);
        break;
    case KP_MODE:
        *value = DwordBytes(CRYPT_MODE_CFB);
        break;
    case KP_IV:
        *value = Bytes(key.iv.begin(), key.iv.end());
        break;
    case KP_GOST_CIPHER_PARAMSET:
        *value = TextBytes(key.paramSet->oid);
        break;
    default:
        return NTE_BAD_TYPE;
    }
    return ERROR_SUCCESS;
}

DWORD GetKeyPairParam(const KeyPair &key, DWORD dwParam, Bytes *value)
{
    switch (dwParam) {
    case KP_ALGID:
        *value = DwordBytes(key.algId);
        break;
    case KP_KEYLEN:
        *value = DwordBytes(key.family->keyBytes * 4);
        break;
    case KP_GOST_PUBKEY_PARAMSET:
        *value = TextBytes(key.publicKeyParamSet);
        break;
    case KP_GOST_HASH_PARAMSET:
        *value = TextBytes(key.hashParamSet);
        break;
    case KP_GOST_CIPHER_PARAMSET:
        *value = TextBytes(key.cipherParamSet->oid);
        break;
    default:
        return NTE_BAD_TYPE;
    }
    return ERROR_SUCCESS;
}

DWORD GetPublicKeyParam(const PublicKey &key, DWORD dwParam, Bytes *value)
{
    switch (dwParam) {
    case KP_ALGID:
        *value = DwordBytes(key.family->signAlgId);
        break;
    case KP_KEYLEN:
        *value = DwordBytes(key.family->keyBytes * 4);
        break;
    case KP_GOST_PUBKEY_PARAMSET:
        *value = TextBytes(key.publicKeyParamSet);
        break;
    case KP_GOST_HASH_PARAMSET:
        *value = TextBytes(key.hashParamSet);
        break;
    default:
        return NTE_BAD_TYPE;
    }
    return ERROR_SUCCESS;
}

DWORD GetAgreementParam(const AgreementKey &key, DWORD dwParam, Bytes *value)
{
    switch (dwParam) {
    case KP_ALGID:
        *value = DwordBytes(key.wrapAlgId);
        break;
    case KP_KEYLEN:
        *value = DwordBytes(256);
        break;
    case KP_GOST_CIPHER_PARAMSET:
        *value = TextBytes(key.cipherParamSet->oid);
        break;
    default:
        return NTE_BAD_TYPE;
    }
    return ERROR_SUCCESS;
}

DWORD ReadCipherParamSet(const BYTE *pbData, const Gost28147ParamSet **paramSet)
{
    const Gost28147ParamSet *found = FindGost28147ParamSet(reinterpret_cast<const char *>(pbData));
    if (!found) return NTE_BAD_DATA;
    *paramSet = found;
    return ERROR_SUCCESS;
}

DWORD SetSessionParam(SessionKey &key, DWORD dwParam, const BYTE *pbData)
{
    DWORD status = ERROR_SUCCESS;
    switch (dwParam) {
    case KP_IV:
        std::memcpy(key.iv.data(), pbData, key.iv.size());
        break;
    case KP_GOST_CIPHER_PARAMSET:
        status = ReadCipherParamSet(pbData, &key.paramSet);
        break;
    default:
        return NTE_BAD_TYPE;
    }
    key.stream.reset(); // the next message starts from the new IV and S-box
    return status;
}

// KP_X completes an ephemeral key made with CRYPT_PREGEN on the curve set by then.
DWORD CompleteKeyPair(KeyPair &key, const BYTE *pbData)
{
    if (pbData) return NTE_BAD_DATA; // only generation is offered, not a private value from outside
    key.pkey = GenerateKeyPair(*key.family, key.publicKeyParamSet);
    return key.pkey ? ERROR_SUCCESS : NTE_FAIL;
}

DWORD SetPendingParam(KeyPair &key, DWORD dwParam, const BYTE *pbData)
{
    const std::string_view text = pbData ? reinterpret_cast<const char *>(pbData) : "";
    switch (dwParam) {
    case KP_GOST_PUBKEY_PARAMSET:
        if (!IsFamilyParamSet(*key.family, text)) return NTE_BAD_DATA;
        key.publicKeyParamSet = text;
        return ERROR_SUCCESS;
    case KP_GOST_HASH_PARAMSET:
        if (text != key.family->digestOid) return NTE_BAD_DATA;
        key.hashParamSet = text;
        return ERROR_SUCCESS;
    case KP_X:
        return CompleteKeyPair(key, pbData);
    default:
        return NTE_BAD_TYPE;
    }
}

DWORD SetKeyPairParam(KeyPair &key, DWORD dwParam, const BYTE *pbData)
{
    if (dwParam == KP_GOST_CIPHER_PARAMSET) return ReadCipherParamSet(pbData, &key.cipherParamSet);
    if (dwParam != KP_GOST_PUBKEY_PARAMSET && dwParam != KP_GOST_HASH_PARAMSET && dwParam != KP_X)
        return NTE_BAD_TYPE;
    if (key.pkey) return NTE_BAD_KEY_STATE; // the key pair exists; its curve is fixed
    return SetPendingParam(key, dwParam, pbData);
}

DWORD SetAgreementParam(AgreementKey &key, DWORD dwParam, const BYTE *pbData)
{
    if (dwParam == KP_GOST_CIPHER_PARAMSET) return ReadCipherParamSet(pbData, &key.cipherParamSet);
    if (dwParam != KP_ALGID) return NTE_BAD_TYPE;
    ALG_ID wrapAlgId = 0;
    std::memcpy(&wrapAlgId, pbData, sizeof wrapAlgId);
    if (wrapAlgId != ALG_GOST_KEY_WRAP_DIVERS && wrapAlgId != ALG_GOST_KEY_WRAP_SIMPLE)
        return NTE_BAD_ALGID;
    key.wrapAlgId = wrapAlgId;
    return ERROR_SUCCESS;
}

} // namespace

BOOL WINAPI CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE *pbData, DWORD *pdwDataLen,
                             DWORD dwFlags)
{
    return RunEntry([&]() -> DWORD {
        const KeyObject *key = FindKey(hKey);
        if (!key) return NTE_BAD_KEY;
        if (dwFlags != 0) return NTE_BAD_FLAGS;
        if (!pdwDataLen) return ERROR_INVALID_PARAMETER;
        Bytes value;
        const DWORD status = std::visit(
            Overloaded{
                [&](const SessionKey &k) { return GetSessionParam(k, dwParam, &value); },
                [&](const KeyPair &k) { return GetKeyPairParam(k, dwParam, &value); },
                [&](const PublicKey &k) { return GetPublicKeyParam(k, dwParam, &value); },
                [&](const AgreementKey &k) { return GetAgreementParam(k, dwParam, &value); }},
            *key);
        return status == ERROR_SUCCESS ? CopyOutput(value, pbData, pdwDataLen) : status;
    });
}

BOOL WINAPI CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE *pbData, DWORD dwFlags)
{
    return RunEntry([&]() -> DWORD {
        KeyObject *key = FindKey(hKey);
        if (!key) return NTE_BAD_KEY;
        if (dwFlags != 0) return NTE_BAD_FLAGS;
        if (!pbData && dwParam != KP_X) return ERROR_INVALID_PARAMETER;
        return std::visit(
            Overloaded{[&](SessionKey &k) { return SetSessionParam(k, dwParam, pbData); },
                       [&](KeyPair &k) { return SetKeyPairParam(k, dwParam, pbData); },
                       [&](PublicKey &) -> DWORD { return NTE_BAD_TYPE; },
                       [&](AgreementKey &k) { return SetAgreementParam(k, dwParam, pbData); }},
            *key);
    });
}

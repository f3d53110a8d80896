// Content encryption: CryptEncrypt and CryptDecrypt, GOST 28147-89 in CFB mode.
#include "Objects.h"

using namespace kvcsp;

namespace {

// Runs the key's CFB stream over the data in place. A message starts from KP_IV and goes on
// over calls until one with Final; a change of direction starts a new message.
DWORD RunStream(SessionKey &key, bool encrypt, BOOL Final, std::span<BYTE> data)
{
    if (!key.stream || key.streamEncrypts != encrypt) {
        key.stream = NewGost28147Cfb(*key.paramSet, key.value, key.iv, encrypt);
        key.streamEncrypts = encrypt;
    }
    const bool done = key.stream && Gost28147CfbUpdate(key.stream.get(), data);
    if (Final || !done) key.stream.reset();
    return done ? ERROR_SUCCESS : NTE_FAIL;
}

DWORD FindSessionKey(HCRYPTKEY hKey, HCRYPTHASH hHash, DWORD dwFlags, SessionKey **session)
{
    KeyObject *key = FindKey(hKey);
    *session = key ? std::get_if<SessionKey>(key) : nullptr;
    if (!*session) return NTE_BAD_KEY;
    if (hHash != 0) return NTE_BAD_HASH; // no hash objects in this provider
    return dwFlags == 0 ? ERROR_SUCCESS : NTE_BAD_FLAGS;
}

} // namespace

// CFB needs no padding: the ciphertext is as long as the plaintext.
BOOL WINAPI CryptEncrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE *pbData,
                         DWORD *pdwDataLen, DWORD dwBufLen)
{
    return RunEntry([&]() -> DWORD {
        SessionKey *session = nullptr;
        const DWORD status = FindSessionKey(hKey, hHash, dwFlags, &session);
        if (status != ERROR_SUCCESS) return status;
        if (!pdwDataLen) return ERROR_INVALID_PARAMETER;
        if (!pbData) return ERROR_SUCCESS; // size query: *pdwDataLen already holds the size
        if (dwBufLen < *pdwDataLen) return ERROR_MORE_DATA;
        return RunStream(*session, true, Final, std::span(pbData, *pdwDataLen));
    });
}

BOOL WINAPI CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE *pbData,
                         DWORD *pdwDataLen)
{
    return RunEntry([&]() -> DWORD {
        SessionKey *session = nullptr;
        const DWORD status = FindSessionKey(hKey, hHash, dwFlags, &session);
        if (status != ERROR_SUCCESS) return status;
        if (!pdwDataLen || (!pbData && *pdwDataLen != 0)) return ERROR_INVALID_PARAMETER;
        return RunStream(*session, false, Final, std::span(pbData, *pdwDataLen));
    });
}

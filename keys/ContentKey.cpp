// OrvaMsgDllGenContentEncryptKey: the GOST 28147-89 content-encryption key of an enveloped
// message, with the Gost28147-89-Parameters (IV and cipher parameter set) that tell the
// recipients how to use it.
#include "asn1/Asn1Types.h"
#include "keys/CmsKeys.h"
#include "keys/KeyHelpers.h"
#include "keys/GostVocabulary.h"
#include "keys/Resources.h"
#include "kvext/keys.h"

#include <type_traits>

namespace {

// The GOST provider type, and a provider without a container: CRYPT_VERIFYCONTEXT with the
// provider-specific bit 0x00100000.
constexpr DWORD kProvGost = 75;
constexpr DWORD kVerifyContextFlags = CRYPT_VERIFYCONTEXT | 0x00100000;

bool IsEncryptionAlgorithm(LPCSTR pszObjId)
{
    return CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<LPSTR>(pszObjId),
                            CRYPT_ENCRYPT_ALG_OID_GROUP_ID) != nullptr;
}

// A provider of our own when the caller gave none; CryptoAPI releases it by the flag.
BOOL AcquireProviderIfNone(PCMSG_CONTENT_ENCRYPT_INFO pInfo)
{
    if (pInfo->hCryptProv) return TRUE;
    if (!CryptAcquireContextA(&pInfo->hCryptProv, nullptr, nullptr, kProvGost, kVerifyContextFlags))
        return FALSE;
    pInfo->dwFlags |= CMSG_CONTENT_ENCRYPT_RELEASE_CONTEXT_FLAG;
    return TRUE;
}

BOOL ReadKeyParameters(HCRYPTKEY hKey, Gost28147_89_Parameters *pValue)
{
    pValue->iv.numocts = sizeof pValue->iv.data;
    return OrvaExportOIDKeyParam(hKey, KP_GOST_CIPHER_PARAMSET, &pValue->encryptionParamSet) &&
           OrvaExportOctetKeyParam(hKey, KP_IV, pValue->iv.data, sizeof pValue->iv.data);
}

BOOL StoreParameters(Asn1Context *ctx, Gost28147_89_Parameters *pValue,
                     PCMSG_CONTENT_ENCRYPT_INFO pInfo)
{
    DWORD cbEncoded = 0;
    if (!EncodeQuietly(ctx, pValue, asn1E_Gost28147_89_Parameters, &cbEncoded) ||
        !CopyToCallerBlock(pInfo->pfnAlloc, xe_getp(ctx), cbEncoded,
                           &pInfo->ContentEncryptionAlgorithm.Parameters))
        return FALSE;
    pInfo->dwFlags |= CMSG_CONTENT_ENCRYPT_FREE_PARA_FLAG;
    return TRUE;
}

} // namespace

// Whatever encryption OID the caller names, the key is GOST 28147-89: the OID only has to be
// one CryptoAPI lists as an encryption algorithm.
extern "C" BOOL WINAPI
OrvaMsgDllGenContentEncryptKey(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo, DWORD, void *)
{
    pContentEncryptInfo->hContentEncryptKey = 0;
    Asn1Context ctx;
    if (OpenAsn1cContext(&ctx) != 0) return FailKeepingLastError();
    ContextGuard releaseCtx(&ctx, rtFreeContext);
    HandedOutKeyGuard discardKey(&pContentEncryptInfo->hContentEncryptKey, DiscardKeyKeepingError);
    Gost28147_89_Parameters parameters{};
    if (!IsEncryptionAlgorithm(pContentEncryptInfo->ContentEncryptionAlgorithm.pszObjId) ||
        !AcquireProviderIfNone(pContentEncryptInfo) ||
        !CryptGenKey(pContentEncryptInfo->hCryptProv, ALG_GOST_28147, CRYPT_EXPORTABLE,
                     &pContentEncryptInfo->hContentEncryptKey) ||
        !ReadKeyParameters(pContentEncryptInfo->hContentEncryptKey, &parameters) ||
        !StoreParameters(&ctx, &parameters, pContentEncryptInfo))
        return FALSE;
    discardKey.release();
    return TRUE;
}

// The prototypes CryptoAPI installs these functions under.
static_assert(
    std::is_same_v<decltype(&OrvaMsgDllGenContentEncryptKey), PFN_CMSG_GEN_CONTENT_ENCRYPT_KEY>);

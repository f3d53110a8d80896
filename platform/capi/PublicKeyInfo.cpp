// CryptImportPublicKeyInfoEx / CryptExportPublicKeyInfoEx: dispatch by the public-key
// algorithm OID to the registered functions. Nothing is built in: every algorithm comes from
// a registered library.
//
// The provider functions (CryptImportKey and the rest) live in the CryptoAPI 1.0 provider,
// which itself runs on this library; they are found in the process when first needed, so the
// two libraries do not name each other at link time.
#include "OidFunc.h"
#include "Trace.h"
#include "wincrypt.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using ImportPublicKeyInfoExFunc = BOOL(WINAPI *)(HCRYPTPROV, DWORD, PCERT_PUBLIC_KEY_INFO, ALG_ID,
                                                 DWORD, void *, HCRYPTKEY *);
using ConvertPublicKeyInfoFunc = BOOL(WINAPI *)(DWORD, PCERT_PUBLIC_KEY_INFO, ALG_ID, DWORD,
                                                BYTE **, DWORD *);
using ExportPublicKeyInfoExFunc = BOOL(WINAPI *)(HCRYPTPROV, DWORD, DWORD, LPSTR, DWORD, void *,
                                                 PCERT_PUBLIC_KEY_INFO, DWORD *);

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// A provider function of the process, or null (traced, ERROR_PROC_NOT_FOUND) when no provider
// is loaded.
template <typename Function> Function ProviderFunction(const char *name)
{
    void *function = dlsym(RTLD_DEFAULT, name);
    if (!function) {
        KVCAPI_TRACE_ERROR("%s not found: no CryptoAPI provider is loaded", name);
        SetLastError(ERROR_PROC_NOT_FOUND);
    }
    return reinterpret_cast<Function>(function);
}

BOOL FailNotRegistered(LPCSTR caller, LPCSTR sets, DWORD dwEncodingType, LPCSTR pszOID)
{
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND)
        KVCAPI_TRACE_ERROR("%s: no %s function registered for %s, encoding type 0x%X, in %s",
                           caller, sets, pszOID, dwEncodingType,
                           kvcapi::RegistrationFilePath().c_str());
    return Fail(error);
}

// The registered conversion to a public-key blob, then the provider's import of that blob.
BOOL ImportThroughConversion(ConvertPublicKeyInfoFunc convert, HCRYPTPROV hCryptProv,
                             DWORD dwCertEncodingType, PCERT_PUBLIC_KEY_INFO pInfo, ALG_ID aiKeyAlg,
                             HCRYPTKEY *phKey)
{
    const auto importKey = ProviderFunction<decltype(&CryptImportKey)>("CryptImportKey");
    if (!importKey) return FALSE;
    BYTE *pbBlob = nullptr;
    DWORD cbBlob = 0;
    if (!convert(dwCertEncodingType, pInfo, aiKeyAlg, 0, &pbBlob, &cbBlob)) return FALSE;
    // The converter's block comes from the C heap.
    const std::unique_ptr<BYTE, decltype(&std::free)> releaseBlob(pbBlob, std::free);
    return importKey(hCryptProv, pbBlob, cbBlob, 0, 0, phKey);
}

// The algorithm the provider names in the public-key blob of the container's dwKeySpec key
// pair; 0 with the last error set when it cannot be exported.
ALG_ID AlgorithmOfUserKey(HCRYPTPROV hCryptProv, DWORD dwKeySpec)
{
    const auto getUserKey = ProviderFunction<decltype(&CryptGetUserKey)>("CryptGetUserKey");
    const auto exportKey = ProviderFunction<decltype(&CryptExportKey)>("CryptExportKey");
    const auto destroyKey = ProviderFunction<decltype(&CryptDestroyKey)>("CryptDestroyKey");
    HCRYPTKEY hKey = 0;
    if (!getUserKey || !exportKey || !destroyKey || !getUserKey(hCryptProv, dwKeySpec, &hKey))
        return 0;
    DWORD cbBlob = 0;
    std::vector<BYTE> blob;
    BOOL exported = exportKey(hKey, 0, PUBLICKEYBLOB, 0, nullptr, &cbBlob);
    if (exported) {
        blob.resize(std::max<size_t>(cbBlob, sizeof(BLOBHEADER)));
        exported = exportKey(hKey, 0, PUBLICKEYBLOB, 0, blob.data(), &cbBlob);
    }
    const DWORD error = GetLastError();
    destroyKey(hKey);
    SetLastError(error);
    if (!exported) return 0;
    BLOBHEADER header;
    std::memcpy(&header, blob.data(), sizeof header);
    return header.aiKeyAlg;
}

// The OID CryptoAPI lists for the algorithm of the container's key pair, or null (last error
// set).
LPCSTR OidOfUserKey(HCRYPTPROV hCryptProv, DWORD dwKeySpec)
{
    ALG_ID algid = AlgorithmOfUserKey(hCryptProv, dwKeySpec);
    if (!algid) return nullptr;
    PCCRYPT_OID_INFO info =
        CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &algid, CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    if (!info) {
        KVCAPI_TRACE_ERROR("No public-key algorithm OID for ALG_ID 0x%X", algid);
        SetLastError(CRYPT_E_UNKNOWN_ALGO);
        return nullptr;
    }
    return info->pszOID;
}

} // namespace

extern "C" {

BOOL WINAPI CryptImportPublicKeyInfoEx(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType,
                                       PCERT_PUBLIC_KEY_INFO pInfo, ALG_ID aiKeyAlg, DWORD dwFlags,
                                       void *pvAuxInfo, HCRYPTKEY *phKey)
{
    if (!pInfo || !pInfo->Algorithm.pszObjId || !phKey) return Fail(ERROR_INVALID_PARAMETER);
    const LPCSTR oid = pInfo->Algorithm.pszObjId;
    kvcapi::OidFunctionAddress hold;
    if (void *import = kvcapi::FindOidFunction(CRYPT_OID_IMPORT_PUBLIC_KEY_INFO_FUNC,
                                               dwCertEncodingType, oid, &hold))
        return reinterpret_cast<ImportPublicKeyInfoExFunc>(import)(
            hCryptProv, dwCertEncodingType, pInfo, aiKeyAlg, dwFlags, pvAuxInfo, phKey);
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return FALSE; // registered, but not loadable
    void *convert = kvcapi::FindOidFunction(CRYPT_OID_CONVERT_PUBLIC_KEY_INFO_FUNC,
                                            dwCertEncodingType, oid, &hold);
    if (!convert)
        return FailNotRegistered(__func__,
                                 CRYPT_OID_IMPORT_PUBLIC_KEY_INFO_FUNC
                                 " or " CRYPT_OID_CONVERT_PUBLIC_KEY_INFO_FUNC,
                                 dwCertEncodingType, oid);
    return ImportThroughConversion(reinterpret_cast<ConvertPublicKeyInfoFunc>(convert), hCryptProv,
                                   dwCertEncodingType, pInfo, aiKeyAlg, phKey);
}

// Without pszPublicKeyObjId the function is the one registered for the OID that CryptoAPI
// lists for the key's algorithm; it still receives the null OID and chooses for itself.
BOOL WINAPI CryptExportPublicKeyInfoEx(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProv, DWORD dwKeySpec,
                                       DWORD dwCertEncodingType, LPSTR pszPublicKeyObjId,
                                       DWORD dwFlags, void *pvAuxInfo, PCERT_PUBLIC_KEY_INFO pInfo,
                                       DWORD *pcbInfo)
{
    if (!hCryptProv || !pcbInfo) return Fail(ERROR_INVALID_PARAMETER);
    const LPCSTR oid = pszPublicKeyObjId ? pszPublicKeyObjId : OidOfUserKey(hCryptProv, dwKeySpec);
    if (!oid) return FALSE;
    kvcapi::OidFunctionAddress hold;
    void *exportInfo = kvcapi::FindOidFunction(CRYPT_OID_EXPORT_PUBLIC_KEY_INFO_FUNC,
                                               dwCertEncodingType, oid, &hold);
    if (!exportInfo)
        return FailNotRegistered(__func__, CRYPT_OID_EXPORT_PUBLIC_KEY_INFO_FUNC,
                                 dwCertEncodingType, oid);
    return reinterpret_cast<ExportPublicKeyInfoExFunc>(exportInfo)(
        hCryptProv, dwKeySpec, dwCertEncodingType, pszPublicKeyObjId, dwFlags, pvAuxInfo, pInfo,
        pcbInfo);
}

} // extern "C"

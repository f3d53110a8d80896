#include "OidFunctions.h"

#include <utility>

namespace kvmsg {
namespace {

// Finds the function of set pszFuncName for pszObjId and calls it with args.
template <typename Function, typename... Args>
BOOL CallInstalled(LPCSTR pszFuncName, LPCSTR pszObjId, Args &&...args)
{
    HCRYPTOIDFUNCSET hFuncSet = CryptInitOIDFunctionSet(pszFuncName, 0);
    void *pvFuncAddr = nullptr;
    HCRYPTOIDFUNCADDR hFuncAddr = nullptr;
    if (!hFuncSet || !pszObjId ||
        !CryptGetOIDFunctionAddress(hFuncSet, kEncodingType, pszObjId, 0, &pvFuncAddr, &hFuncAddr))
        return FALSE;
    const BOOL ok = reinterpret_cast<Function>(pvFuncAddr)(std::forward<Args>(args)...);
    const DWORD dwError = GetLastError();
    CryptFreeOIDFunctionAddress(hFuncAddr, 0);
    SetLastError(dwError);
    return ok;
}

} // namespace

BOOL GenContentEncryptKey(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo)
{
    return CallInstalled<PFN_CMSG_GEN_CONTENT_ENCRYPT_KEY>(
        CMSG_OID_GEN_CONTENT_ENCRYPT_KEY_FUNC,
        pContentEncryptInfo->ContentEncryptionAlgorithm.pszObjId, pContentEncryptInfo, 0u, nullptr);
}

BOOL ExportKeyTrans(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo,
                    PCMSG_KEY_TRANS_RECIPIENT_ENCODE_INFO pKeyTransEncodeInfo,
                    PCMSG_KEY_TRANS_ENCRYPT_INFO pKeyTransEncryptInfo)
{
    return CallInstalled<PFN_CMSG_EXPORT_KEY_TRANS>(
        CMSG_OID_EXPORT_KEY_TRANS_FUNC, pKeyTransEncodeInfo->KeyEncryptionAlgorithm.pszObjId,
        pContentEncryptInfo, pKeyTransEncodeInfo, pKeyTransEncryptInfo, 0u, nullptr);
}

BOOL ExportKeyAgree(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo,
                    PCMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO pKeyAgreeEncodeInfo,
                    PCMSG_KEY_AGREE_ENCRYPT_INFO pKeyAgreeEncryptInfo)
{
    return CallInstalled<PFN_CMSG_EXPORT_KEY_AGREE>(
        CMSG_OID_EXPORT_KEY_AGREE_FUNC, pKeyAgreeEncodeInfo->KeyEncryptionAlgorithm.pszObjId,
        pContentEncryptInfo, pKeyAgreeEncodeInfo, pKeyAgreeEncryptInfo, 0u, nullptr);
}

BOOL ImportKeyTrans(PCRYPT_ALGORITHM_IDENTIFIER pContentEncryptionAlgorithm,
                    PCMSG_CTRL_KEY_TRANS_DECRYPT_PARA pKeyTransDecryptPara,
                    HCRYPTKEY *phContentEncryptKey)
{
    return CallInstalled<PFN_CMSG_IMPORT_KEY_TRANS>(
        CMSG_OID_IMPORT_KEY_TRANS_FUNC,
        pKeyTransDecryptPara->pKeyTrans->KeyEncryptionAlgorithm.pszObjId,
        pContentEncryptionAlgorithm, pKeyTransDecryptPara, 0u, nullptr, phContentEncryptKey);
}

BOOL ImportKeyAgree(PCRYPT_ALGORITHM_IDENTIFIER pContentEncryptionAlgorithm,
                    PCMSG_CTRL_KEY_AGREE_DECRYPT_PARA pKeyAgreeDecryptPara,
                    HCRYPTKEY *phContentEncryptKey)
{
    return CallInstalled<PFN_CMSG_IMPORT_KEY_AGREE>(
        CMSG_OID_IMPORT_KEY_AGREE_FUNC,
        pKeyAgreeDecryptPara->pKeyAgree->KeyEncryptionAlgorithm.pszObjId,
        pContentEncryptionAlgorithm, pKeyAgreeDecryptPara, 0u, nullptr, phContentEncryptKey);
}

} // namespace kvmsg

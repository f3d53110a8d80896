// CryptoAPI 2.0 calls the tool makes beyond those wincrypt.h declares so far, with
// Microsoft's published prototypes.
#pragma once

#include <wincrypt.h>

extern "C" {
BOOL WINAPI CryptEncodeObjectEx(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                const void *pvStructInfo, DWORD dwFlags,
                                PCRYPT_ENCODE_PARA pEncodePara, void *pvEncoded, DWORD *pcbEncoded);
BOOL WINAPI CryptDecodeObjectEx(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                const BYTE *pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                                PCRYPT_DECODE_PARA pDecodePara, void *pvStructInfo,
                                DWORD *pcbStructInfo);
BOOL WINAPI CryptImportPublicKeyInfoEx(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType,
                                       PCERT_PUBLIC_KEY_INFO pInfo, ALG_ID aiKeyAlg,
                                       DWORD dwFlags, void *pvAuxInfo, HCRYPTKEY *phKey);
BOOL WINAPI CryptExportPublicKeyInfoEx(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey,
                                       DWORD dwKeySpec, DWORD dwCertEncodingType,
                                       LPSTR pszPublicKeyObjId, DWORD dwFlags, void *pvAuxInfo,
                                       PCERT_PUBLIC_KEY_INFO pInfo, DWORD *pcbInfo);
}

/*
 * GOST public-key conversion between a certificate's SubjectPublicKeyInfo and the provider's
 * GOST public-key blob, with CryptoAPI's prototypes for the OID functions they serve.
 *
 * Blocks these functions hand out come from the library's default allocator (zero-filled
 * memory from the C heap): release them with free().
 */
#ifndef KVEXT_KEYS_H
#define KVEXT_KEYS_H

#include <wincrypt.h>

#ifdef __cplusplus
extern "C" {
#endif

/* "CryptDllConvertPublicKeyInfo": the CERT_PUBLIC_KEY_INFO of a GOST R 34.10 key -> the GOST
 * PUBLICKEYBLOB that CryptImportKey takes. dwCertEncodingType, aiKeyAlg and dwFlags are not
 * examined. With ppbData null only *pcbData is set; otherwise *ppbData receives a new block. */
BOOL WINAPI OrvaConvertPublicKeyInfo(DWORD dwCertEncodingType, PCERT_PUBLIC_KEY_INFO pInfo,
                                     ALG_ID aiKeyAlg, DWORD dwFlags, BYTE **ppbData,
                                     DWORD *pcbData);

/* "CryptDllEncodePublicKeyAndParameters": a GOST public-key blob as the provider exports it
 * (PUBLICKEYBLOBEX) -> the DER GostR3410-PublicKey (*ppPublicKey) and the DER algorithm
 * parameters (*ppbParams), each in a new block. Only pbPubKey and cbPubKey are examined. */
BOOL WINAPI OrvaEncodePublicKeyAndParameters(DWORD dwCertEncodingType, LPSTR pszPublicKeyObjId,
                                             BYTE *pbPubKey, DWORD cbPubKey, DWORD dwFlags,
                                             void *pvAuxInfo, BYTE **ppPublicKey,
                                             DWORD *pcbPublicKey, BYTE **ppbParams,
                                             DWORD *pcbParams);

/* CRYPT_OID_EXPORT_PUBLIC_KEY_INFO_FUNC: the public key of the container's dwKeySpec key pair
 * as a CERT_PUBLIC_KEY_INFO laid out in the caller's buffer together with the algorithm OID
 * text, the parameters and the key encoding it points to. pInfo null asks for the size; a
 * short buffer fails with ERROR_MORE_DATA and the size in *pcbInfo. With pszPublicKeyObjId
 * null the OID is the one CryptoAPI lists for the key's algorithm. */
BOOL WINAPI OrvaDllExportPublicKeyInfoEx(HCRYPTPROV hCryptProv, DWORD dwKeySpec,
                                         DWORD dwCertEncodingType, LPSTR pszPublicKeyObjId,
                                         DWORD dwFlags, void *pvAuxInfo,
                                         PCERT_PUBLIC_KEY_INFO pInfo, DWORD *pcbInfo);

#ifdef __cplusplus
}
#endif

#endif

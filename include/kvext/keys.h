/*
 * GOST public-key conversion between a certificate's SubjectPublicKeyInfo and the provider's
 * GOST public-key blob, and the GOST key management of CMS enveloped data, with CryptoAPI's
 * prototypes for the OID functions they serve.
 *
 * Blocks the public-key functions hand out come from the library's default allocator
 * (zero-filled memory from the C heap): release them with free().
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

/* CMS enveloped data with GOST 28147-89 content encryption: the content-encryption key and
 * its recipients. Output blocks come from pContentEncryptInfo->pfnAlloc, and dwFlags says which
 * ones CryptoAPI releases; keys and providers handed out belong to the caller. Every other key
 * a call makes is destroyed before it returns. */

/* CMSG_OID_GEN_CONTENT_ENCRYPT_KEY_FUNC: a GOST 28147-89 key in hCryptProv (acquired when 0,
 * flagged CMSG_CONTENT_ENCRYPT_RELEASE_CONTEXT_FLAG) and its DER Gost28147-89-Parameters (IV
 * and cipher parameter set) in ContentEncryptionAlgorithm.Parameters. */
BOOL WINAPI OrvaMsgDllGenContentEncryptKey(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo,
                                           DWORD dwFlags, void *pvReserved);

/* CMSG_OID_EXPORT_KEY_TRANS_FUNC: the content key wrapped for a GOST R 34.10 recipient under an
 * ephemeral-static agreement, as the DER GostR3410-KeyTransport in EncryptedKey. */
BOOL WINAPI OrvaMsgDllExportKeyTrans(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo,
                                     PCMSG_KEY_TRANS_RECIPIENT_ENCODE_INFO pKeyTransEncodeInfo,
                                     PCMSG_KEY_TRANS_ENCRYPT_INFO pKeyTransEncryptInfo,
                                     DWORD dwFlags, void *pvReserved);

/* CMSG_OID_IMPORT_KEY_TRANS_FUNC: the content key unwrapped with the container's
 * AT_KEYEXCHANGE key, its IV taken from the content-encryption algorithm's parameters. */
BOOL WINAPI OrvaMsgDllImportKeyTrans(PCRYPT_ALGORITHM_IDENTIFIER pContentEncryptionAlgorithm,
                                     PCMSG_CTRL_KEY_TRANS_DECRYPT_PARA pKeyTransDecryptPara,
                                     DWORD dwFlags, void *pvReserved,
                                     HCRYPTKEY *phContentEncryptKey);

/* CMSG_OID_EXPORT_KEY_AGREE_FUNC: the content key wrapped for the first recipient encrypted key
 * under an ephemeral key of the recipient's group. KeyEncryptionAlgorithm.pszObjId of the encode
 * info is rewritten in place to the key-agreement OID (same length), so it must be writable. */
BOOL WINAPI OrvaMsgDllExportKeyAgree(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo,
                                     PCMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO pKeyAgreeEncodeInfo,
                                     PCMSG_KEY_AGREE_ENCRYPT_INFO pKeyAgreeEncryptInfo,
                                     DWORD dwFlags, void *pvReserved);

/* CMSG_OID_IMPORT_KEY_AGREE_FUNC: the content key of the first recipient encrypted key,
 * unwrapped with the container's dwKeySpec key and the originator's public key. */
BOOL WINAPI OrvaMsgDllImportKeyAgree(PCRYPT_ALGORITHM_IDENTIFIER pContentEncryptionAlgorithm,
                                     PCMSG_CTRL_KEY_AGREE_DECRYPT_PARA pKeyAgreeDecryptPara,
                                     DWORD dwFlags, void *pvReserved,
                                     HCRYPTKEY *phContentEncryptKey);

#ifdef __cplusplus
}
#endif

#endif

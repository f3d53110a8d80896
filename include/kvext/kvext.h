/*
 * libkvext: GOST certificate and message structures, CMS key management and public-key
 * conversion for CryptoAPI.
 *
 * The entry points below are installed in CryptoAPI's OID-function sets by the host; each has
 * the published prototype of the function set it serves. Every entry point returns TRUE or
 * FALSE; on FALSE the reason is the calling thread's last error (GetLastError()).
 *
 * Memory. An encode or decode call in allocation mode (CRYPT_ENCODE_ALLOC_FLAG /
 * CRYPT_DECODE_ALLOC_FLAG) returns one block. When the caller passed a complete
 * CRYPT_ENCODE_PARA / CRYPT_DECODE_PARA (cbSize set, pfnAlloc and pfnFree both non-null) the
 * block comes from its pfnAlloc and is released with its pfnFree. Otherwise it comes from the
 * library's default allocator, which takes zero-filled memory from the C heap (calloc): release
 * such a block, and every block that the public-key functions document as coming from the
 * default allocator, with free(). A decoded result is flat: the structure and everything its
 * pointers refer to lie in that one block, so one release frees it all.
 */
#ifndef KVEXT_KVEXT_H
#define KVEXT_KVEXT_H

#include <wincrypt.h>

#include "kvext/certext.h"
#include "kvext/ess.h"
#include "kvext/keys.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Declares the four entry points of one structure with CryptoAPI's prototypes:
 * CryptEncodeObjectEx, CryptEncodeObject, CryptDecodeObjectEx and CryptDecodeObject. */
#define KVEXT_DECLARE_DECODE_ENTRY_POINTS(Struct)                                               \
    BOOL WINAPI OrvaDll##Struct##DecodeEx(DWORD dwCertEncodingType, LPCSTR lpszStructType,      \
                                          const BYTE *pbEncoded, DWORD cbEncoded, DWORD dwFlags, \
                                          PCRYPT_DECODE_PARA pDecodePara, void *pvStructInfo,   \
                                          DWORD *pcbStructInfo);                                \
    BOOL WINAPI OrvaDll##Struct##Decode(DWORD dwCertEncodingType, LPCSTR lpszStructType,        \
                                        const BYTE *pbEncoded, DWORD cbEncoded, DWORD dwFlags,   \
                                        void *pvStructInfo, DWORD *pcbStructInfo);
#define KVEXT_DECLARE_ENTRY_POINTS(Struct)                                                      \
    BOOL WINAPI OrvaDll##Struct##EncodeEx(DWORD dwCertEncodingType, LPCSTR lpszStructType,      \
                                          const void *pvStructInfo, DWORD dwFlags,              \
                                          PCRYPT_ENCODE_PARA pEncodePara, void *pvEncoded,      \
                                          DWORD *pcbEncoded);                                   \
    BOOL WINAPI OrvaDll##Struct##Encode(DWORD dwCertEncodingType, LPCSTR lpszStructType,        \
                                        const void *pvStructInfo, BYTE *pbEncoded,              \
                                        DWORD *pcbEncoded);                                     \
    KVEXT_DECLARE_DECODE_ENTRY_POINTS(Struct)

/* KVCERT_PRIVATE_KEY_USAGE_PERIOD <-> PrivateKeyUsagePeriod (2.5.29.16) */
KVEXT_DECLARE_ENTRY_POINTS(PrivateKeyUsagePeriod)
/* the private certificate store of a key container */
KVEXT_DECLARE_ENTRY_POINTS(GostPrivateCertificateStore)
/* the symmetric key-derivation counter (decode only) */
KVEXT_DECLARE_DECODE_ENTRY_POINTS(PrivateKeyDeriveCounter)
/* KVCMSG_SIGNING_CERTIFICATE <-> SigningCertificate (RFC 2634) */
KVEXT_DECLARE_ENTRY_POINTS(SigningCertificate)
/* KVCMSG_SIGNING_CERTIFICATEV2 <-> SigningCertificateV2 (RFC 5035) */
KVEXT_DECLARE_ENTRY_POINTS(SigningCertificateV2)
/* KVCMSG_OTHER_SIGNING_CERTIFICATE <-> OtherSigningCertificate */
KVEXT_DECLARE_ENTRY_POINTS(OtherSigningCertificate)
/* CRL_DIST_POINTS_INFO <-> CRLDistributionPoints (2.5.29.31) */
KVEXT_DECLARE_ENTRY_POINTS(CrlDistributionPoints)
/* KVCERT_ISSUER_SIGN_TOOL <-> IssuerSignTool */
KVEXT_DECLARE_ENTRY_POINTS(IssuerSignTool)

#ifdef __cplusplus
}
#endif

#endif

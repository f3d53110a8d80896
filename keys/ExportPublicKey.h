// Provider key -> certificate form of its public key: the GOST public-key blob the provider
// exports (PUBLICKEYBLOBEX) becomes the DER key and parameter encodings of a
// SubjectPublicKeyInfo. The exported entry points are in kvext/keys.h.
#pragma once

#include <wincrypt.h>

// The library's memory service with CryptoAPI's allocator signature: zero-filled blocks of
// KVSUPAllocMemory, released with KVSUPFreeMemory.
LPVOID WINAPI pfnAllocMemory(size_t cb);

// Splits a GOST public-key blob (the DER parameters TLV at offset 16, then the key bytes of
// the bit length at offset 12) into a copy of the parameters TLV and the DER
// GostR3410-PublicKey, both in blocks of pfnAlloc. A block already stored stays for the
// caller to release when a later step fails. Failures set no code beyond the allocator's.
BOOL OrvaEncodePublicKeyAndParametersEx(DWORD dwCertEncodingType, LPCSTR pszPublicKeyObjId,
                                        const BYTE *pbPubKey, DWORD cbPubKey, DWORD dwFlags,
                                        void *pvAuxInfo, BYTE **ppPublicKey, DWORD *pcbPublicKey,
                                        BYTE **ppbParams, DWORD *pcbParams,
                                        PFN_CRYPT_ALLOC pfnAlloc);

// The key pair's public key as the provider exports it (PUBLICKEYBLOBEX), in a block of
// KVSUPAllocMemory. FALSE with the provider's code, or NTE_NO_MEMORY.
BOOL ExportPublicKeyBlob(HCRYPTKEY hKey, BYTE **ppbBlob, DWORD *pcbBlob);
// aiKeyAlg of a GOST public-key blob; 0 when the blob is shorter than its header.
ALG_ID PublicKeyBlobAlgId(const BYTE *pbBlob, DWORD cbBlob);

// What the library and the GOST provider agree on: algorithm identifiers, key parameters and
// the layouts of the provider's GOST key blobs. The values are the provider's own; the library
// keeps this copy so that it never includes the provider's header.
#pragma once

#include <wincrypt.h>

#include <cstddef>

// ------------------------------------------------------------------ algorithm identifiers

// GOST R 34.10 public keys, as certificates name them.
inline constexpr ALG_ID ALG_GOST_SIGN_2001 = 0x2E23;
inline constexpr ALG_ID ALG_GOST_SIGN_2012_256 = 0x2E49;
inline constexpr ALG_ID ALG_GOST_SIGN_2012_512 = 0x2E3D;
// GOST R 34.10 key-exchange keys.
inline constexpr ALG_ID ALG_GOST_DH_2001 = 0xAA24;
inline constexpr ALG_ID ALG_GOST_DH_2012_256 = 0xAA46;
inline constexpr ALG_ID ALG_GOST_DH_2012_512 = 0xAA42;
// Ephemeral keys generated for a recipient of each key type.
inline constexpr ALG_ID ALG_GOST_DH_2001_EPHEM = 0xAA25;
inline constexpr ALG_ID ALG_GOST_DH_2012_256_EPHEM = 0xAA47;
inline constexpr ALG_ID ALG_GOST_DH_2012_512_EPHEM = 0xAA43;
// Key-encryption algorithms accepted for each key-agreement group.
inline constexpr ALG_ID ALG_GOST_AGREE_2001 = 0xAA28;
inline constexpr ALG_ID ALG_GOST_AGREE_2012_256 = 0xAA48;
inline constexpr ALG_ID ALG_GOST_AGREE_2012_512 = 0xAA3F;
// GOST 28147-89: the content-encryption key, and the algorithm of every GOST SIMPLEBLOB.
inline constexpr ALG_ID ALG_GOST_28147 = 0x661E;
// Key-encryption key algorithms: the GOST 28147-89 key wrap with key diversification
// (RFC 4357, 6.3) and without it (RFC 4357, 6.1).
inline constexpr ALG_ID ALG_GOST_KEY_WRAP_DIVERS = 0x661F;
inline constexpr ALG_ID ALG_GOST_KEY_WRAP_SIMPLE = 0x6620;

// ------------------------------------------------------------------ object identifiers

inline constexpr char szOID_GostR3410_2001[] = "1.2.643.2.2.19";
inline constexpr char szOID_GostR3410_2012_256[] = "1.2.643.7.1.1.1.1";
inline constexpr char szOID_GostR3410_2012_512[] = "1.2.643.7.1.1.1.2";
inline constexpr char szOID_GostR3410_2001_DH[] = "1.2.643.2.2.98";
inline constexpr char szOID_GostR3410_2012_256_DH[] = "1.2.643.7.1.1.6.1";
inline constexpr char szOID_GostR3410_2012_512_DH[] = "1.2.643.7.1.1.6.2";
// id-GostR3410-2001-Kelvarine-ESDH: the 2001 key-agreement algorithm.
inline constexpr char szOID_GostR3410_2001_Kelvarine_ESDH[] = "1.2.643.2.2.96";

// The algorithms that have an object identifier in this library (ALGID_2_OID).
struct GostAlgorithmOid {
    ALG_ID algId;
    const char *oid;
};
inline constexpr GostAlgorithmOid kGostAlgorithmOids[] = {
    {ALG_GOST_SIGN_2001, szOID_GostR3410_2001},
    {ALG_GOST_SIGN_2012_256, szOID_GostR3410_2012_256},
    {ALG_GOST_SIGN_2012_512, szOID_GostR3410_2012_512},
    {ALG_GOST_DH_2001, szOID_GostR3410_2001_DH},
    {ALG_GOST_DH_2012_256, szOID_GostR3410_2012_256_DH},
    {ALG_GOST_DH_2012_512, szOID_GostR3410_2012_512_DH},
};

// ------------------------------------------------------------------ key parameters

// KP_IV (1), KP_ALGID (7) and KP_X (14) are CryptoAPI's own (wincrypt.h). The GOST parameter
// sets travel as NUL-terminated dotted OID texts.
inline constexpr DWORD KP_GOST_HASH_PARAMSET = 0x67;
inline constexpr DWORD KP_GOST_CIPHER_PARAMSET = 0x68;
inline constexpr DWORD KP_GOST_PUBKEY_PARAMSET = 0x6A;

// ------------------------------------------------------------------ key blobs

// GOST public-key blob (PUBLICKEYBLOB built here, PUBLICKEYBLOBEX from the provider):
// this 16-byte header, then one DER TLV of algorithm parameters (05 00 when there are none),
// then BitLen / 8 key bytes as they stand in the GostR3410-PublicKey OCTET STRING.
// Multi-byte fields are in the host's byte order, as BLOBHEADER's are.
inline constexpr DWORD GOST_PUBKEY_MAGIC = 0x3147414D;
inline constexpr BYTE GOST_BLOB_VERSION = 0x20;
struct GOST_PUBLICKEYBLOB_HEADER {
    BLOBHEADER BlobHeader; // bType PUBLICKEYBLOB, bVersion 0x20, reserved 1, aiKeyAlg
    DWORD Magic;           // GOST_PUBKEY_MAGIC
    DWORD BitLen;          // 8 times the number of key bytes
};
static_assert(sizeof(GOST_PUBLICKEYBLOB_HEADER) == 16);
static_assert(offsetof(GOST_PUBLICKEYBLOB_HEADER, BitLen) == 12);

// GOST SIMPLEBLOB: a GOST 28147-89 key wrapped under a key-encryption key, followed on import
// by the DER Gost28147-89-BlobParameters of the wrapped key.
inline constexpr DWORD GOST_SIMPLEBLOB_MAGIC = 0x374A51FD;
struct GOST_SIMPLEBLOB {
    BLOBHEADER BlobHeader;  // bType SIMPLEBLOB, bVersion 0x20, reserved 0, ALG_GOST_28147
    DWORD Magic;            // GOST_SIMPLEBLOB_MAGIC
    ALG_ID EncryptKeyAlgId; // ALG_GOST_28147
    BYTE bUkm[8];           // user keying material of the wrap
    BYTE bEncryptedKey[32]; // the wrapped key
    BYTE bMacKey[4];        // MAC of the wrap
};
static_assert(sizeof(GOST_SIMPLEBLOB) == 60);
static_assert(offsetof(GOST_SIMPLEBLOB, bUkm) == 16);
static_assert(offsetof(GOST_SIMPLEBLOB, bEncryptedKey) == 24);
static_assert(offsetof(GOST_SIMPLEBLOB, bMacKey) == 56);

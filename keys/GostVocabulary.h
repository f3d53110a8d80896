// The GOST vocabulary of key management: the algorithm identifiers, key parameters and key
// blobs are the provider's own (gostcsp.h, defined there once); the object identifiers the
// library names them by, and the blob layouts it relies on, are added here.
#pragma once

#include <gostcsp.h>
#include <wincrypt.h>

#include <cstddef>

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

// ------------------------------------------------------------------ key blobs

// GOST public-key blob (PUBLICKEYBLOB built here, PUBLICKEYBLOBEX from the provider):
// this 16-byte header, then one DER TLV of algorithm parameters (05 00 when there are none),
// then BitLen / 8 key bytes as they stand in the GostR3410-PublicKey OCTET STRING.
// Multi-byte fields are in the host's byte order, as BLOBHEADER's are.
inline constexpr BYTE GOST_BLOB_VERSION = 0x20;
static_assert(sizeof(GOST_PUBLICKEYBLOB_HEADER) == 16);
static_assert(offsetof(GOST_PUBLICKEYBLOB_HEADER, BitLen) == 12);

// GOST SIMPLEBLOB: a GOST 28147-89 key wrapped under a key-encryption key, followed on import
// by the DER Gost28147-89-BlobParameters of the wrapped key.
static_assert(sizeof(GOST_SIMPLEBLOB) == 60);
static_assert(offsetof(GOST_SIMPLEBLOB, bUkm) == 16);
static_assert(offsetof(GOST_SIMPLEBLOB, bEncryptedKey) == 24);
static_assert(offsetof(GOST_SIMPLEBLOB, bMacKey) == 56);

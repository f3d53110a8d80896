/*
 * The vocabulary of the platform's software GOST provider (libkvcsp) that a host needs
 * beside wincrypt.h: provider type, GOST algorithm identifiers, key parameters, and the
 * layouts of the GOST public-key blob and the GOST SIMPLEBLOB. Multi-byte blob fields
 * are in the host's byte order.
 *
 * Containers: CryptAcquireContextA with CRYPT_VERIFYCONTEXT gives a provider without a
 * container. Otherwise szContainer names a PEM private-key file (GOST R 34.10-2001 or
 * 2012, 256 or 512 bits, as OpenSSL's GOST engine writes it) whose key pair becomes the
 * container's AT_KEYEXCHANGE key:
 *   - a name starting with '/' is the absolute path of that file;
 *   - any other name is a plain file name (no '/', not "." or "..") resolved as
 *     "$KV_CSP_CONTAINER_DIR/<name>.pem".
 *
 * Keys: CryptGenKey makes ALG_GOST_28147 content keys (random value and IV, parameter set
 * 1.2.643.2.2.31.1, Kelvarine A, unless PP_GOST_CIPHER_PARAMSET chose another) and ALG_GOST_DH_*_EPHEM key pairs; one made with
 * CRYPT_PREGEN takes KP_GOST_PUBKEY_PARAMSET and KP_GOST_HASH_PARAMSET and is completed by
 * KP_X with null data. A public-key blob imported with a key pair as hPubKey gives an
 * agreement key: KP_ALGID selects its key wrap (ALG_GOST_KEY_WRAP_DIVERS, the default, or
 * ALG_GOST_KEY_WRAP_SIMPLE), KP_GOST_CIPHER_PARAMSET its S-box (the key pair's by default),
 * and its key-encryption key is the VKO of both keys under the UKM of each SIMPLEBLOB.
 * Exported public-key blobs name the public-key algorithm (ALG_GOST_SIGN_*).
 *
 * Handles: an unknown, released or destroyed provider handle fails with NTE_BAD_UID, such a
 * key handle with NTE_BAD_KEY. Keys stay usable after their provider is released.
 */
#ifndef KV_GOSTCSP_H
#define KV_GOSTCSP_H

#include "wincrypt.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Provider type and name accepted by CryptAcquireContextA (szProvider may also be null). */
#define KV_PROV_GOST 75
#define KV_GOST_PROVIDER_NAME_A "KV GOST R 34.10 Software CSP"
/* Provider-specific acquisition flag; accepted and without effect. */
#define KV_CRYPT_PROVIDER_SPECIFIC_FLAG 0x00100000

/* GOST algorithm identifiers. */
#define ALG_GOST_SIGN_2001 0x2E23
#define ALG_GOST_SIGN_2012_256 0x2E49
#define ALG_GOST_SIGN_2012_512 0x2E3D
#define ALG_GOST_DH_2001 0xAA24
#define ALG_GOST_DH_2012_256 0xAA46
#define ALG_GOST_DH_2012_512 0xAA42
#define ALG_GOST_DH_2001_EPHEM 0xAA25
#define ALG_GOST_DH_2012_256_EPHEM 0xAA47
#define ALG_GOST_DH_2012_512_EPHEM 0xAA43
#define ALG_GOST_AGREE_2001 0xAA28
#define ALG_GOST_AGREE_2012_256 0xAA48
#define ALG_GOST_AGREE_2012_512 0xAA3F
#define ALG_GOST_28147 0x661E
#define ALG_GOST_KEY_WRAP_DIVERS 0x661F
#define ALG_GOST_KEY_WRAP_SIMPLE 0x6620

/* GOST key parameters (KP_IV, KP_ALGID and KP_X are wincrypt.h's). The three parameter
 * sets are NUL-terminated dotted OID texts. */
#define KP_GOST_HASH_PARAMSET 0x67
#define KP_GOST_CIPHER_PARAMSET 0x68
#define KP_GOST_PUBKEY_PARAMSET 0x6A

/* Provider parameter (CryptSetProvParam): the parameter set, a NUL-terminated dotted OID
 * text, of the GOST 28147-89 keys CryptGenKey makes from then on. */
#define PP_GOST_CIPHER_PARAMSET 0x68

/* GOST 28147-89 parameter sets (RFC 4357 section 11.2, RFC 7836 appendix C). */
#define szOID_Gost28147_89_TestParamSet "1.2.643.2.2.31.0"
#define szOID_Gost28147_89_Kelvarine_A_ParamSet "1.2.643.2.2.31.1"
#define szOID_Gost28147_89_Kelvarine_B_ParamSet "1.2.643.2.2.31.2"
#define szOID_Gost28147_89_Kelvarine_C_ParamSet "1.2.643.2.2.31.3"
#define szOID_Gost28147_89_Kelvarine_D_ParamSet "1.2.643.2.2.31.4"
#define szOID_tc26_gost_28147_param_Z "1.2.643.7.1.2.5.1.1"

#define GOST_PUBKEY_MAGIC 0x3147414D
#define GOST_SIMPLEBLOB_MAGIC 0x374A51FD

/* GOST public-key blob (PUBLICKEYBLOB, PUBLICKEYBLOBEX). After these 16 bytes: one DER TLV
 * with the key's parameters (GostR3410-2001-PublicKeyParameters, or 05 00), then
 * BitLen / 8 key bytes as they stand in the GostR3410-PublicKey OCTET STRING
 * (RFC 4491 section 2.3.2: X then Y, each little-endian). */
typedef struct _GOST_PUBLICKEYBLOB_HEADER {
    BLOBHEADER BlobHeader; /* bType, bVersion 0x20, reserved, aiKeyAlg */
    DWORD Magic;           /* GOST_PUBKEY_MAGIC */
    DWORD BitLen;          /* 8 times the key bytes: 512 or 1024 */
} GOST_PUBLICKEYBLOB_HEADER;

/* GOST SIMPLEBLOB: a GOST 28147-89 key wrapped under a key-encryption key. After these
 * 60 bytes: DER Gost28147-89-BlobParameters with the wrapped key's parameter set. */
typedef struct _GOST_SIMPLEBLOB {
    BLOBHEADER BlobHeader;  /* SIMPLEBLOB, 0x20, 0, ALG_GOST_28147 */
    DWORD Magic;            /* GOST_SIMPLEBLOB_MAGIC */
    ALG_ID EncryptKeyAlgId; /* ALG_GOST_28147 */
    BYTE bUkm[8];           /* user keying material of the wrap */
    BYTE bEncryptedKey[32];
    BYTE bMacKey[4];
} GOST_SIMPLEBLOB;

#ifdef __cplusplus
}
#endif

#endif

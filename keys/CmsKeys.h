// What the CMS key-management functions share: the ephemeral key pair of a recipient, and the
// GOST SIMPLEBLOB through which the provider wraps and unwraps the content-encryption key.
//
// Unless a code is named, a failure leaves the provider's, CryptoAPI's or the allocator's code
// as the last error and traces nothing.
#pragma once

#include <asn1rt.h>
#include <wincrypt.h>

#include "asn1/Asn1Types.h"
#include "frame/AsnObject.h"
#include "keys/GostVocabulary.h"
#include "keys/Resources.h"

#include <span>

// Destroys and clears the key a call hands out when the call fails; release() on success.
inline void DiscardKeyKeepingError(HCRYPTKEY *phKey)
{
    DestroyKeyKeepingError(phKey);
    *phKey = 0;
}
using HandedOutKeyGuard = std::unique_ptr<HCRYPTKEY, decltype(&DiscardKeyKeepingError)>;

// A copy of cb bytes in a block of the caller's allocator, stored in *pOut only when the
// block was obtained.
bool CopyToCallerBlock(PFN_CMSG_ALLOC pfnAlloc, const BYTE *pb, DWORD cb, CRYPT_DATA_BLOB *pOut);

// The ephemeral key (ALG_GOST_DH_*_EPHEM) made for a peer whose public key is of
// publicKeyAlgId (ALG_GOST_SIGN_*); 0 for any other algorithm.
ALG_ID EphemeralKeyAlgIdFor(ALG_ID publicKeyAlgId);

// An ephemeral key pair (ephemeralAlgId, one of ALG_GOST_DH_*_EPHEM) on the curve and with the
// digest of the peer's parameters.
BOOL GenerateEphemeralKey(HCRYPTPROV hProv, ALG_ID ephemeralAlgId,
                          const GostR3410_2001_PublicKeyParameters &parameters,
                          HCRYPTKEY *phEphemeral);

// Selects the key wrap (ALG_GOST_KEY_WRAP_DIVERS or ALG_GOST_KEY_WRAP_SIMPLE) with which an
// agreement key exports and imports SIMPLEBLOBs.
BOOL SetKeyWrap(HCRYPTKEY hAgree, ALG_ID keyWrapAlgId);

// The first 60 bytes of the SIMPLEBLOB of hContentKey under hAgree: the provider's UKM, the
// wrapped key and its MAC. A blob shorter than that fails with NTE_BAD_DATA.
BOOL ExportSimpleBlobHeader(HCRYPTKEY hContentKey, HCRYPTKEY hAgree, GOST_SIMPLEBLOB *pHeader);
// The wrapped key and MAC of a SIMPLEBLOB as a Gost28147-89-EncryptedKey without maskKey.
void EncryptedKeyOf(const GOST_SIMPLEBLOB &header, Gost28147_89_EncryptedKey *pValue);

// Imports the content-encryption key that a recipient info carries: its UKM (8 bytes) and its
// wrapped key (32 bytes, MAC of 4, no maskKey), unwrapped under hAgree; the key takes the cipher
// parameter set and the IV of the content-encryption algorithm's parameters. Wrong lengths or a
// maskKey fail without a code of their own.
BOOL ImportWrappedContentKey(Asn1Context *ctx, HCRYPTPROV hProv, HCRYPTKEY hAgree,
                             std::span<const BYTE> ukm,
                             const Gost28147_89_EncryptedKey &encryptedKey,
                             const Gost28147_89_Parameters &contentParameters,
                             HCRYPTKEY *phContentEncryptKey);

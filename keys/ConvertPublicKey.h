// Certificate public key -> GOST public-key blob (OrvaConvertPublicKeyInfo, kvext/keys.h).
#pragma once

#include <wincrypt.h>

// Lays out the GOST public-key blob at *ppCursor (null: only counts) and adds its size to
// *pcbBlob (may be null): the 16-byte header, the parameters (05 00 when there are none) and
// the key bytes.
void b2e_CRYPT_PUBKEY_INFO(BYTE **ppCursor, DWORD *pcbBlob, const CRYPT_OBJID_BLOB *pParameters,
                           const CRYPT_DATA_BLOB *pKey, ALG_ID aiKeyAlg);

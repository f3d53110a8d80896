// How the CMS key-management functions move keys and parameters between provider key handles
// and CryptoAPI or ASN.1 structures. All cryptographic work is the provider's; on failure the
// last error is the provider's or CryptoAPI's unless a code is named.
#pragma once

#include <wincrypt.h>

#include "asn1/Asn1Types.h"

// The dotted OID of a GOST public-key algorithm, or null when it has none here.
LPCSTR ALGID_2_OID(ALG_ID algId);
// CryptoAPI's ALG_ID for a public-key algorithm OID, or 0 when it lists none.
ALG_ID OID_2_ALGID(LPCSTR pszObjId);

// hKey's public key as a CERT_PUBLIC_KEY_INFO: the OID is a constant text, the parameters and
// the key encoding are blocks of pfnAlloc that the caller releases (also after a failure, when
// they were stored). PublicKey.cUnusedBits is left as the caller set it.
BOOL OrvaExportPublicKeyInfo(HCRYPTKEY hKey, CERT_PUBLIC_KEY_INFO *pInfo, PFN_CRYPT_ALLOC pfnAlloc);
// The same as an ASN.1 value on ctx's heap.
BOOL OrvaExportSubjectPublicKeyInfo(Asn1Context *ctx, HCRYPTKEY hKey, SubjectPublicKeyInfo *pValue);

// Imports a certificate's public key. hPubKey goes to CryptImportKey unchanged: with a private
// key of the same provider there, the provider answers with the agreement key of the two.
BOOL OrvaImportPublicKeyInfoEx(HCRYPTPROV hProv, const CERT_PUBLIC_KEY_INFO *pInfo,
                               HCRYPTKEY hPubKey, HCRYPTKEY *phKey);
BOOL OrvaImportPublicKeyInfoEx1(HCRYPTPROV hProv, const CRYPT_ALGORITHM_IDENTIFIER *pAlgorithm,
                                const CRYPT_BIT_BLOB *pPublicKey, HCRYPTKEY hPubKey,
                                HCRYPTKEY *phKey);
BOOL OrvaImportSubjectPublicKeyInfoEx(HCRYPTPROV hProv, const SubjectPublicKeyInfo *pValue,
                                      HCRYPTKEY hPubKey, HCRYPTKEY *phKey);

// A key parameter held as a dotted OID text (KP_GOST_*_PARAMSET), read into or set from an
// OID value. A text that is no OID fails the read with NTE_NO_MEMORY.
BOOL OrvaExportOIDKeyParam(HCRYPTKEY hKey, DWORD dwParam, ASN1OBJID *pOid);
BOOL OrvaImportOIDKeyParam(HCRYPTKEY hKey, DWORD dwParam, const ASN1OBJID *pOid);
// A key parameter's bytes into pbBuffer of cbBuffer bytes; the length written is not passed on.
BOOL OrvaExportOctetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE *pbBuffer, DWORD cbBuffer);

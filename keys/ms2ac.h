// CryptoAPI structures -> ASN.1 values. Every converter copies the caller's octets onto the
// context heap, so the value lives exactly as long as the context. Each returns 1, or 0 when
// the heap refuses a block or an OID text is not dotted decimal; none sets an error code.
#pragma once

#include <wincrypt.h>

#include "asn1/Asn1Types.h"

// numbits = 8 * cbData: cUnusedBits is not carried over.
int ms2ac_ASN1DynBitStr(Asn1Context *ctx, const CRYPT_BIT_BLOB *pBlob, ASN1DynBitStr *pValue);
int ms2ac_ASN1OpenType(Asn1Context *ctx, const CRYPT_OBJID_BLOB *pBlob, ASN1OpenType *pValue);
// The parameters are always present, of zero octets when the caller gave none.
int ms2ac_AlgorithmIdentifier(Asn1Context *ctx, const CRYPT_ALGORITHM_IDENTIFIER *pAlgorithm,
                              AlgorithmIdentifier *pValue);
int ms2ac_SubjectPublicKeyInfo(Asn1Context *ctx, const CERT_PUBLIC_KEY_INFO *pInfo,
                               SubjectPublicKeyInfo *pValue);

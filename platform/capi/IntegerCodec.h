// DER INTEGER (X.690, 8.3) to and from CryptoAPI's multi-byte integer form: a
// CRYPT_INTEGER_BLOB of little-endian two's-complement octets.
#pragma once

#include "wintypes.h"

#include <cstddef>
#include <span>

namespace kvcapi {

// Last-error codes of the host's ASN.1 decoder.
constexpr DWORD kAsn1Eod = CRYPT_E_ASN1_EOD;         // input ends inside the element
constexpr DWORD kAsn1Corrupt = CRYPT_E_ASN1_CORRUPT; // indefinite primitive length
constexpr DWORD kAsn1Large = CRYPT_E_ASN1_LARGE;     // length beyond 32 bits
constexpr DWORD kAsn1BadTag = CRYPT_E_ASN1_BADTAG;   // not an INTEGER

// Octets of the DER encoding of the blob's value.
size_t MultiByteIntegerDerSize(std::span<const BYTE> littleEndian);
// Writes that encoding to `out`, which holds MultiByteIntegerDerSize() octets.
void WriteMultiByteIntegerDer(std::span<const BYTE> littleEndian, BYTE *out);

// Finds the content octets of the INTEGER at the start of `der`; 0 or one of the codes above.
DWORD ParseIntegerContent(std::span<const BYTE> der, std::span<const BYTE> *content);

} // namespace kvcapi

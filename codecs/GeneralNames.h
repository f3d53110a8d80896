// The general-name converter of the CRL distribution points codec: CERT_ALT_NAME_INFO to
// GeneralNames and back, and the placement rules of that codec's flat decode result.
//
// GeneralName ::= CHOICE {
//     otherName                  [0] OtherName,
//     rfc822Name                 [1] IA5String,
//     dNSName                    [2] IA5String,
//     x400Address                [3] ORAddress,
//     directoryName              [4] Name,
//     ediPartyName               [5] EDIPartyName,
//     uniformResourceIdentifier  [6] IA5String,
//     iPAddress                  [7] OCTET STRING,
//     registeredID               [8] OBJECT IDENTIFIER }          -- RFC 5280, 4.2.1.6
//
// dwAltNameChoice (CERT_ALT_NAME_*) is the alternative's number counted from 1. The
// x400Address, directoryName and ediPartyName of a caller are blobs holding DER, laid over
// the union like DirectoryName; they pass through the generated decoder and encoder.
#pragma once

#include "asn1/Asn1Types.h"
#include "frame/AsnObject.h"

#include <algorithm>
#include <cstddef>

// Where the next item of a flat decode result goes. Every item starts on a 4-byte boundary,
// a structure on its own alignment where that is stricter (CERT_ALT_NAME_ENTRY and
// CERT_OTHER_NAME hold pointers, 8 bytes on LP64), and the cursor is rounded up to 4 after
// each item. Offsets count from the start of the block, so the size step (no block) and the
// fill step round alike wherever the caller's block lies.
struct FlatCursor {
    static constexpr size_t kItemAlignment = 4;

    BYTE *block;   // null in the size step: only the offset moves
    size_t offset; // of the next free byte

    // Room for `cb` bytes at `alignment`; null in the size step.
    BYTE *Take(size_t cb, size_t alignment = kItemAlignment);
    template <typename T> T *TakeArray(size_t count)
    {
        BYTE *at = Take(count * sizeof(T), std::max(kItemAlignment, alignof(T)));
        return static_cast<T *>(static_cast<void *>(at));
    }
};

// Allocates a zeroed value of `cbValue` bytes on the context heap and decodes the DER into
// it. The value may point into `pbEncoded`, which must outlive the context's use of it.
BOOL FillAsn1cEncodedObject(Asn1Context *ctx, const BYTE *pbEncoded, DWORD cbEncoded,
                            size_t cbValue, DecodeFun decodeFun, void **ppValue);

// CERT_ALT_NAME_INFO -> GeneralNames. The value points into the caller's structure (other
// names, IP addresses) for the duration of the encode call.
BOOL GeneralNames_FillAsn1cObject(Asn1Context *ctx, const CERT_ALT_NAME_INFO *pInfo,
                                  GeneralNames *names);

// Size step: moves `cursor` past the entry array and the data of every name, and hands back
// one CRYPT_DATA_BLOB per name holding the DER of x400Address, directoryName and
// ediPartyName (context heap), for the fill step.
BOOL GeneralNames_GetBufferSize(Asn1Context *ctx, const GeneralNames *names, FlatCursor *cursor,
                                CRYPT_DATA_BLOB **ppEncodings);

// Fill step: lays the entry array and the data of every name at `cursor`, moving it exactly
// as GeneralNames_GetBufferSize did.
BOOL GeneralNames_FillBuffer(Asn1Context *ctx, const GeneralNames *names, CERT_ALT_NAME_INFO *pInfo,
                             FlatCursor *cursor, const CRYPT_DATA_BLOB *encodings);

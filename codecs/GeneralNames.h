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
#include "frame/FlatLayout.h"

#include <algorithm>
#include <cstddef>

// Every item of this codec's flat result starts on a 4-byte boundary, a structure on its own
// alignment where that is stricter (CERT_ALT_NAME_ENTRY and CERT_OTHER_NAME hold pointers, 8
// bytes on LP64), and the cursor is rounded up to 4 after each item.
constexpr size_t kItemAlignment = 4;
BYTE *TakeItem(FlatCursor *cursor, size_t cb, size_t alignment = kItemAlignment);
// The same for an item the caller writes in full: the block is not cleared first.
BYTE *TakeItemToWrite(FlatCursor *cursor, size_t cb);
template <typename T> T *TakeItems(FlatCursor *cursor, size_t count)
{
    return static_cast<T *>(static_cast<void *>(TakeItem(cursor, count * sizeof(T), alignof(T))));
}

// Allocates a zeroed value of `cbValue` bytes on the context heap and decodes the DER into
// it. The value may point into `pbEncoded`, which must outlive the context's use of it.
BOOL FillAsn1cEncodedObject(Asn1Context *ctx, const BYTE *pbEncoded, DWORD cbEncoded,
                            size_t cbValue, DecodeFun decodeFun, void **ppValue);

// CERT_ALT_NAME_INFO -> GeneralNames. The value points into the caller's structure (other
// names, IP addresses) for the duration of the encode call.
BOOL GeneralNames_FillAsn1cObject(Asn1Context *ctx, const CERT_ALT_NAME_INFO *pInfo,
                                  GeneralNames *names);

// The entry array, then the data of every name; the x400Address, directoryName and
// ediPartyName of a decoded value are DER-encoded again into the block.
BOOL GeneralNames_Layout(Asn1Context *ctx, const GeneralNames *names, CERT_ALT_NAME_INFO *pInfo,
                         FlatCursor *cursor);

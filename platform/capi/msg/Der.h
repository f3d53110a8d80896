// The DER the message layer writes and the BER it reads: just enough of X.690 for the
// EnvelopedData shell around the recipient infos and the content.
#pragma once

#include <wincrypt.h>

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace kvmsg {

using Bytes = std::vector<BYTE>;

// ------------------------------------------------------------------ writing

// The identifier and length octets of an element with cbContents octets of contents.
Bytes Header(BYTE tag, size_t cbContents);
// A whole element.
Bytes Tlv(BYTE tag, std::span<const BYTE> contents);
// An element made of the given parts.
Bytes Constructed(BYTE tag, std::initializer_list<std::span<const BYTE>> parts);
// The OBJECT IDENTIFIER of a dotted text; empty for a text that is not one.
Bytes ObjectIdentifier(const char *pszObjId);
Bytes SmallInteger(BYTE value);
// AlgorithmIdentifier ::= SEQUENCE { algorithm OBJECT IDENTIFIER, parameters ANY OPTIONAL }
// -- RFC 5280, 4.1.1.2; parameters are the DER CryptoAPI keeps, left out when empty.
Bytes AlgorithmIdentifier(const CRYPT_ALGORITHM_IDENTIFIER &algorithm);
void Append(Bytes *out, std::span<const BYTE> part);

// ------------------------------------------------------------------ reading

enum class ReadStatus { Ok, NeedMore, Bad };

// One element. An indefinite-length element's contents are its parts, without the
// end-of-contents pair that closes it (counted in cbTrailer).
struct Element {
    BYTE tag = 0;
    size_t cbHeader = 0;
    bool indefinite = false;
    size_t cbTrailer = 0;
    size_t length = 0; // a definite length as the header gives it
    std::span<const BYTE> contents;
    size_t Size() const { return cbHeader + contents.size() + cbTrailer; }
};

// Reads the element at the start of in. NeedMore: in ends inside its header or (definite
// length) its contents; Bad: not BER this layer understands (a tag over 30, a length over
// 4 octets or beyond size_t).
ReadStatus ReadElement(std::span<const BYTE> in, Element *pOut);
// Reads only the identifier and length octets (Ok once they are in); contents holds what is
// at hand of a definite length's contents, nothing of an indefinite one.
ReadStatus ReadHeader(std::span<const BYTE> in, Element *pOut);

// The dotted text of an OBJECT IDENTIFIER's contents; empty when malformed.
std::string ObjectIdentifierText(std::span<const BYTE> contents);

} // namespace kvmsg

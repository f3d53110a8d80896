// The decode buffer: identifier and length octets, the contents-end bookkeeping of
// constructed values, and whole elements taken as open types. Every octet read is checked
// against the buffer's size first.
#include "Internal.h"

using namespace asn1rt;

namespace {

// Tag number in the high-tag-number form: base 128, most significant group first, no
// leading zero group (X.690 8.1.2.4).
int ParseHighTagNumber(const ASN1OCTET *data, size_t size, size_t *pat, ASN1UINT *pnumber)
{
    ASN1UINT number = 0;
    ASN1OCTET octet = 0;
    do {
        if (*pat >= size) return ASN_E_ENDOFBUF;
        octet = data[(*pat)++];
        if ((number == 0 && octet == 0x80) || number > (TM_IDCODE >> 7)) return ASN_E_BADTAG;
        number = (number << 7) | (octet & 0x7F);
    } while (octet & 0x80);
    if (number < kHighTagNumber) // such numbers have a one-octet identifier
        return ASN_E_BADTAG;
    *pnumber = number;
    return ASN_OK;
}

// Length octets (X.690 8.1.3): short form, indefinite form (constructed only), or long form
// of at most four octets whose value fits an int.
int ParseLength(const ASN1OCTET *data, size_t size, size_t *pat, bool constructed, int *plength)
{
    if (*pat >= size) return ASN_E_ENDOFBUF;
    const ASN1OCTET first = data[(*pat)++];
    if (first < 0x80) {
        *plength = first;
        return ASN_OK;
    }
    if (first == 0x80) {
        *plength = ASN_K_INDEFLEN;
        return constructed ? ASN_OK : ASN_E_INVLEN;
    }
    const size_t count = first & 0x7F;
    if (count > 4) return ASN_E_INVLEN;
    if (size - *pat < count) return ASN_E_ENDOFBUF;
    uint64_t length = 0;
    for (size_t i = 0; i < count; i++)
        length = (length << 8) | data[(*pat)++];
    if (length > kMaxLength) return ASN_E_INVLEN;
    *plength = static_cast<int>(length);
    return ASN_OK;
}

bool IsEndOfContents(const Header &header)
{
    return header.firstOctet == 0x00 && header.length == 0;
}

} // namespace

namespace asn1rt {

int ParseHeader(const ASN1OCTET *data, size_t size, size_t pos, Header *pheader)
{
    if (pos >= size) return ASN_E_ENDOFBUF;
    size_t at = pos;
    const ASN1OCTET first = data[at++];
    ASN1UINT number = first & kHighTagNumber;
    if (number == kHighTagNumber) {
        if (const int status = ParseHighTagNumber(data, size, &at, &number)) return status;
    }
    const bool constructed = first & 0x20;
    int length = 0;
    if (const int status = ParseLength(data, size, &at, constructed, &length)) return status;
    if (first == 0x00 && length != 0) // universal 0 is reserved for end-of-contents
        return ASN_E_BADTAG;
    if (length != ASN_K_INDEFLEN && static_cast<size_t>(length) > size - at) return ASN_E_BUFOVFLW;
    *pheader =
        Header{(ASN1TAG{first} & 0xE0u) << 24 | number, first, constructed, length, at - pos};
    return ASN_OK;
}

int ReadAnyHeader(Asn1Context *pctxt, Header *pheader, bool consume)
{
    Asn1DecodeBuffer *buffer = &pctxt->buffer;
    if (const int status = ParseHeader(buffer->data, buffer->size, buffer->byteIndex, pheader))
        return status;
    buffer->lastIdIndex = buffer->byteIndex;
    buffer->lastIdConstructed = pheader->constructed;
    if (consume) buffer->byteIndex += pheader->headerLength;
    return ASN_OK;
}

// Walks the indefinite form without recursion: definite elements inside are stepped over
// whole, and each end-of-contents closes one open level.
int ElementExtent(const ASN1OCTET *data, size_t size, size_t pos, size_t *pextent)
{
    Header header{};
    if (const int status = ParseHeader(data, size, pos, &header)) return status;
    if (IsEndOfContents(header)) return ASN_E_BADTAG;
    size_t at = pos + header.headerLength;
    for (size_t openLevels = 0;;) {
        if (header.length == ASN_K_INDEFLEN)
            openLevels++;
        else if (IsEndOfContents(header))
            openLevels--;
        else
            at += static_cast<size_t>(header.length);
        if (openLevels == 0) break;
        if (const int status = ParseHeader(data, size, at, &header)) return status;
        at += header.headerLength;
    }
    *pextent = at - pos;
    return ASN_OK;
}

int OpenPrimitive(Asn1Context *pctxt, ASN1TAG tagNumber, ASN1TagType tagging, int length,
                  std::span<const ASN1OCTET> *pcontents)
{
    if (!pctxt) return ASN_E_INVPARAM;
    if (tagging == ASN1EXPL) {
        ASN1OCTET first = 0;
        if (const int status = xd_peekTagByte(pctxt, &first)) return status;
        if (first != tagNumber) return ASN_E_IDNOTFOU;
        Header header{};
        if (const int status = ReadHeader(pctxt, &header, true)) return status;
        length = header.length;
    } else if (pctxt->buffer.lastIdConstructed) {
        return ASN_E_BADTAG; // the implicit tag was read in constructed form
    }
    return TakeContents(pctxt, length, pcontents);
}

int TakeContents(Asn1Context *pctxt, int length, std::span<const ASN1OCTET> *pcontents)
{
    Asn1DecodeBuffer *buffer = &pctxt->buffer;
    if (length < 0) return ASN_E_INVLEN;
    if (buffer->byteIndex > buffer->size ||
        static_cast<size_t>(length) > buffer->size - buffer->byteIndex)
        return ASN_E_BUFOVFLW;
    *pcontents = {buffer->data + buffer->byteIndex, static_cast<size_t>(length)};
    buffer->byteIndex += static_cast<size_t>(length);
    return ASN_OK;
}

} // namespace asn1rt

extern "C" int xd_setp(Asn1Context *pctxt, const ASN1OCTET *data, int size, ASN1TAG *tag_p,
                       int *len_p)
{
    if (!pctxt || !data || size < 0) return ASN_E_INVPARAM;
    size_t extent = static_cast<size_t>(size);
    // Without a size the outermost element says how far it reaches; its octets are read
    // one by one, never further than its header and contents go.
    if (size == 0) {
        if (const int status = ElementExtent(data, kMaxLength, 0, &extent)) return status;
    }
    pctxt->buffer = Asn1DecodeBuffer{data, 0, extent, 0, 0};
    pctxt->depth = 0;
    if (!tag_p && !len_p) return ASN_OK;
    Header header{};
    if (const int status = ParseHeader(data, extent, 0, &header)) return status;
    if (tag_p) *tag_p = header.tag;
    if (len_p) *len_p = header.length;
    return ASN_OK;
}

extern "C" int xd_match1(Asn1Context *pctxt, ASN1OCTET tagbyte, int *len_p)
{
    ASN1OCTET first = 0;
    if (const int status = xd_peekTagByte(pctxt, &first)) return status;
    if ((first & ~0x20) != (tagbyte & ~0x20)) return ASN_E_IDNOTFOU;
    Header header{};
    if (const int status = ReadHeader(pctxt, &header, true)) return status;
    if (len_p) *len_p = header.length;
    return ASN_OK;
}

extern "C" int xd_Tag1AndLen(Asn1Context *pctxt, int *len_p)
{
    return xd_tag_len(pctxt, nullptr, len_p, XM_ADVANCE);
}

extern "C" int xd_tag_len(Asn1Context *pctxt, ASN1TAG *tag_p, int *len_p, ASN1OCTET mode)
{
    if (!pctxt) return ASN_E_INVPARAM;
    Header header{};
    if (const int status = ReadHeader(pctxt, &header, (mode & XM_ADVANCE) != 0)) return status;
    if (tag_p) *tag_p = header.tag;
    if (len_p) *len_p = header.length;
    return ASN_OK;
}

extern "C" void xd_ccbInit(Asn1Context *pctxt, Asn1Ccb *pccb, int len)
{
    if (!pctxt || !pccb) return;
    pccb->start = pctxt->buffer.byteIndex;
    pccb->len = len;
}

extern "C" int xd_chkend(Asn1Context *pctxt, const Asn1Ccb *pccb)
{
    if (!pctxt || !pccb) return 0;
    const Asn1DecodeBuffer *buffer = &pctxt->buffer;
    if (buffer->byteIndex >= buffer->size) return 0;
    if (pccb->len == ASN_K_INDEFLEN) {
        const bool endOfContents = buffer->size - buffer->byteIndex >= 2 &&
                                   buffer->data[buffer->byteIndex] == 0 &&
                                   buffer->data[buffer->byteIndex + 1] == 0;
        return endOfContents ? 0 : 1;
    }
    return buffer->byteIndex < pccb->start ||
           buffer->byteIndex - pccb->start < static_cast<size_t>(pccb->len < 0 ? 0 : pccb->len);
}

extern "C" int xd_endcons(Asn1Context *pctxt, const Asn1Ccb *pccb)
{
    if (!pctxt || !pccb) return ASN_E_INVPARAM;
    Asn1DecodeBuffer *buffer = &pctxt->buffer;
    if (pccb->len != ASN_K_INDEFLEN) {
        const bool atEnd = pccb->len >= 0 && buffer->byteIndex >= pccb->start &&
                           buffer->byteIndex - pccb->start == static_cast<size_t>(pccb->len);
        return atEnd ? ASN_OK : ASN_E_INVLEN;
    }
    if (buffer->byteIndex > buffer->size || buffer->size - buffer->byteIndex < 2)
        return ASN_E_ENDOFBUF;
    if (buffer->data[buffer->byteIndex] != 0 || buffer->data[buffer->byteIndex + 1] != 0)
        return ASN_E_INVLEN;
    buffer->byteIndex += 2;
    return ASN_OK;
}

extern "C" int xd_peekTagByte(Asn1Context *pctxt, ASN1OCTET *pbyte)
{
    if (!pctxt || !pbyte) return ASN_E_INVPARAM;
    const Asn1DecodeBuffer *buffer = &pctxt->buffer;
    if (buffer->byteIndex >= buffer->size) return ASN_E_ENDOFBUF;
    *pbyte = buffer->data[buffer->byteIndex];
    return ASN_OK;
}

extern "C" void xd_resetToLastId(Asn1Context *pctxt)
{
    if (pctxt && pctxt->buffer.lastIdIndex <= pctxt->buffer.size)
        pctxt->buffer.byteIndex = pctxt->buffer.lastIdIndex;
}

extern "C" int xd_OpenType(Asn1Context *pctxt, const ASN1OCTET **ppdata, ASN1UINT *pnumocts)
{
    if (!pctxt || !ppdata || !pnumocts) return ASN_E_INVPARAM;
    Asn1DecodeBuffer *buffer = &pctxt->buffer;
    size_t extent = 0;
    if (const int status = ElementExtent(buffer->data, buffer->size, buffer->byteIndex, &extent))
        return status;
    buffer->lastIdIndex = buffer->byteIndex;
    buffer->lastIdConstructed = (buffer->data[buffer->byteIndex] & 0x20) != 0;
    *ppdata = buffer->data + buffer->byteIndex;
    *pnumocts = static_cast<ASN1UINT>(extent);
    buffer->byteIndex += extent;
    return ASN_OK;
}

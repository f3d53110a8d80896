// Decoders of the string types. BER allows a string in constructed form: its contents are
// a series of segments, each a primitive or again a constructed string (X.690 8.6.3,
// 8.7.3, 8.23.6), definite or indefinite; the segments are joined here.
#include "Internal.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

using namespace asn1rt;

namespace {

// Collects the contents of a string type in primitive or constructed form. `segmentTags`
// lists the universal tag numbers accepted for segments of the constructed form. On success
// the octets are in a heap block (with `extra` zero octets after them) and the position is
// past the value.
struct StringRequest {
    ASN1TAG tagNumber;
    std::span<const ASN1TAG> segmentTags;
    bool bitString; // segments carry an unused-bits octet
    size_t extra;   // zeroed octets to reserve after the contents
};
struct StringValue {
    ASN1OCTET *data;
    size_t numocts;
    unsigned unusedBits; // bit strings: unused bits of the last octet
};

// The one segment of a primitive encoding stays in `first`, so the common DER string needs
// no list; a constructed encoding lists the others in `more`.
struct Segments {
    std::span<const ASN1OCTET> first;
    std::vector<std::span<const ASN1OCTET>> more;
    size_t count = 0;
    size_t total = 0;
    int unusedBits = -1; // bit strings: unused bits of the segment read last

    void Add(std::span<const ASN1OCTET> piece)
    {
        if (count++ == 0)
            first = piece;
        else
            more.push_back(piece);
        total += piece.size();
    }
};

// Keeps the depth guard of the context right on every path out of a nested segment.
struct DepthGuard {
    Asn1Context *pctxt;
    explicit DepthGuard(Asn1Context *ctx) : pctxt(ctx) { pctxt->depth++; }
    ~DepthGuard() { pctxt->depth--; }
    DepthGuard(const DepthGuard &) = delete;
    DepthGuard &operator=(const DepthGuard &) = delete;
};

// A bit string segment: the unused-bits octet, then the bits. Only the last segment may
// leave bits unused (X.690 8.6.4).
int AddBitSegment(std::span<const ASN1OCTET> contents, Segments *psegments)
{
    if (contents.empty()) return ASN_E_INVLEN;
    const unsigned unused = contents[0];
    if (unused > 7 || (unused && contents.size() == 1) || psegments->unusedBits > 0)
        return ASN_E_BADVALUE;
    psegments->unusedBits = static_cast<int>(unused);
    psegments->Add(contents.subspan(1));
    return ASN_OK;
}

int AddSegment(const StringRequest &request, std::span<const ASN1OCTET> contents,
               Segments *psegments)
{
    if (request.bitString) return AddBitSegment(contents, psegments);
    psegments->Add(contents);
    return ASN_OK;
}

int TakePrimitive(Asn1Context *pctxt, const StringRequest &request, int length, Segments *psegments)
{
    std::span<const ASN1OCTET> contents;
    if (const int status = TakeContents(pctxt, length, &contents)) return status;
    return AddSegment(request, contents, psegments);
}

bool AtEndOfSegments(Asn1Context *pctxt, size_t start, int length)
{
    const Asn1DecodeBuffer *buffer = &pctxt->buffer;
    if (length != ASN_K_INDEFLEN) return buffer->byteIndex - start >= static_cast<size_t>(length);
    return buffer->size - buffer->byteIndex >= 2 && buffer->data[buffer->byteIndex] == 0 &&
           buffer->data[buffer->byteIndex + 1] == 0;
}

int TakeConstructed(Asn1Context *pctxt, const StringRequest &request, int length,
                    Segments *psegments);

int TakeSegment(Asn1Context *pctxt, const StringRequest &request, Segments *psegments)
{
    Header header{};
    if (const int status = ReadHeader(pctxt, &header, true)) return status;
    const ASN1TAG universalTag = header.tag & ~TM_CONS;
    if (std::find(request.segmentTags.begin(), request.segmentTags.end(), universalTag) ==
        request.segmentTags.end())
        return ASN_E_BADTAG;
    if (header.constructed) return TakeConstructed(pctxt, request, header.length, psegments);
    return TakePrimitive(pctxt, request, header.length, psegments);
}

int TakeConstructed(Asn1Context *pctxt, const StringRequest &request, int length,
                    Segments *psegments)
{
    if (pctxt->depth >= kMaxStringDepth) return ASN_E_TOODEEP;
    const DepthGuard guard(pctxt);
    Asn1DecodeBuffer *buffer = &pctxt->buffer;
    if (length < 0 && length != ASN_K_INDEFLEN) return ASN_E_INVLEN;
    if (buffer->byteIndex > buffer->size ||
        (length != ASN_K_INDEFLEN &&
         static_cast<size_t>(length) > buffer->size - buffer->byteIndex))
        return ASN_E_BUFOVFLW;
    const size_t start = buffer->byteIndex;
    while (!AtEndOfSegments(pctxt, start, length)) {
        if (const int status = TakeSegment(pctxt, request, psegments)) return status;
    }
    if (length == ASN_K_INDEFLEN)
        buffer->byteIndex += 2; // the end-of-contents octets
    else if (buffer->byteIndex - start != static_cast<size_t>(length))
        return ASN_E_INVLEN; // the last segment ran past the contents
    return ASN_OK;
}

// The identifier (explicit tagging) and form of the value; the position is left at its
// contents.
int OpenString(Asn1Context *pctxt, ASN1TAG tagNumber, ASN1TagType tagging, int *plength,
               bool *pconstructed)
{
    if (tagging == ASN1IMPL) {
        *pconstructed = pctxt->buffer.lastIdConstructed != 0;
        return ASN_OK;
    }
    ASN1OCTET first = 0;
    if (const int status = xd_peekTagByte(pctxt, &first)) return status;
    if ((first & ~0x20) != tagNumber) return ASN_E_IDNOTFOU;
    Header header{};
    if (const int status = ReadHeader(pctxt, &header, true)) return status;
    *plength = header.length;
    *pconstructed = header.constructed;
    return ASN_OK;
}

int JoinSegments(Asn1Context *pctxt, const Segments &segments, size_t extra, StringValue *pvalue)
{
    auto *joined = static_cast<ASN1OCTET *>(ASN1MALLOC(pctxt, segments.total + extra));
    if (!joined) return ASN_E_NOMEM;
    if (!segments.first.empty()) std::memcpy(joined, segments.first.data(), segments.first.size());
    size_t at = segments.first.size();
    for (const auto &piece : segments.more) {
        if (!piece.empty()) std::memcpy(joined + at, piece.data(), piece.size());
        at += piece.size();
    }
    std::memset(joined + at, 0, extra);
    *pvalue = StringValue{joined, segments.total,
                          segments.unusedBits > 0 ? static_cast<unsigned>(segments.unusedBits) : 0};
    return ASN_OK;
}

int DecodeStringUnguarded(Asn1Context *pctxt, const StringRequest &request, ASN1TagType tagging,
                          int length, StringValue *pvalue)
{
    bool constructed = false;
    if (const int status = OpenString(pctxt, request.tagNumber, tagging, &length, &constructed))
        return status;
    Segments segments;
    const int status = constructed ? TakeConstructed(pctxt, request, length, &segments)
                                   : TakePrimitive(pctxt, request, length, &segments);
    if (status != ASN_OK) return status;
    if (segments.total > kMaxLength) return ASN_E_INVLEN;
    return JoinSegments(pctxt, segments, request.extra, pvalue);
}

int DecodeString(Asn1Context *pctxt, const StringRequest &request, ASN1TagType tagging, int length,
                 StringValue *pvalue)
{
    if (!pctxt) return ASN_E_INVPARAM;
    try {
        return DecodeStringUnguarded(pctxt, request, tagging, length, pvalue);
    } catch (const std::bad_alloc &) {
        return ASN_E_NOMEM;
    }
}

// Bits of the last octet past the value are cleared, whatever the encoder left there.
void ClearUnusedBits(StringValue *pvalue)
{
    if (pvalue->numocts)
        pvalue->data[pvalue->numocts - 1] &= static_cast<ASN1OCTET>(0xFF << pvalue->unusedBits);
}

int DecodeBits(Asn1Context *pctxt, ASN1TagType tagging, int length, StringValue *pvalue)
{
    static constexpr ASN1TAG kSegmentTags[] = {ASN_ID_BITSTR};
    const StringRequest request{ASN_ID_BITSTR, kSegmentTags, true, 0};
    if (const int status = DecodeString(pctxt, request, tagging, length, pvalue)) return status;
    if (pvalue->numocts > UINT32_MAX / 8) return ASN_E_INVLEN;
    ClearUnusedBits(pvalue);
    return ASN_OK;
}

int DecodeOctets(Asn1Context *pctxt, ASN1TagType tagging, int length, StringValue *pvalue)
{
    static constexpr ASN1TAG kSegmentTags[] = {ASN_ID_OCTSTR};
    return DecodeString(pctxt, {ASN_ID_OCTSTR, kSegmentTags, false, 0}, tagging, length, pvalue);
}

// Segments of a constructed character string are OCTET STRINGs (X.690 8.23.6); some
// encoders use the string's own tag, which is taken too.
int DecodeCharacters(Asn1Context *pctxt, ASN1TAG tag, ASN1TagType tagging, int length, size_t extra,
                     StringValue *pvalue)
{
    if (tag == 0 || tag >= 31) return ASN_E_INVPARAM;
    const ASN1TAG segmentTags[] = {ASN_ID_OCTSTR, tag};
    return DecodeString(pctxt, {tag, segmentTags, false, extra}, tagging, length, pvalue);
}

// Big-endian code units of `Unit` octets each, converted in place: the heap block is
// aligned for any unit size.
template <typename Unit>
int DecodeWideChars(Asn1Context *pctxt, ASN1TAG tag, ASN1TagType tagging, int length,
                    const Unit **ppdata, ASN1UINT *pcount)
{
    StringValue value{};
    if (const int status = DecodeCharacters(pctxt, tag, tagging, length, 0, &value)) return status;
    if (value.numocts % sizeof(Unit)) return ASN_E_INVLEN;
    const size_t count = value.numocts / sizeof(Unit);
    for (size_t i = 0; i < count; i++) {
        Unit unit = 0;
        for (size_t k = 0; k < sizeof(Unit); k++)
            unit = static_cast<Unit>((unit << 8) | value.data[i * sizeof(Unit) + k]);
        new (value.data + i * sizeof(Unit)) Unit(unit);
    }
    *ppdata = static_cast<const Unit *>(static_cast<void *>(value.data));
    *pcount = static_cast<ASN1UINT>(count);
    return ASN_OK;
}

} // namespace

extern "C" int xd_octstr(Asn1Context *pctxt, const ASN1OCTET **ppdata, ASN1UINT *pnumocts,
                         ASN1TagType tagging, int length)
{
    if (!ppdata || !pnumocts) return ASN_E_INVPARAM;
    StringValue value{};
    if (const int status = DecodeOctets(pctxt, tagging, length, &value)) return status;
    *ppdata = value.data;
    *pnumocts = static_cast<ASN1UINT>(value.numocts);
    return ASN_OK;
}

extern "C" int xd_bitstr(Asn1Context *pctxt, const ASN1OCTET **ppdata, ASN1UINT *pnumbits,
                         ASN1TagType tagging, int length)
{
    if (!ppdata || !pnumbits) return ASN_E_INVPARAM;
    StringValue value{};
    if (const int status = DecodeBits(pctxt, tagging, length, &value)) return status;
    *ppdata = value.data;
    *pnumbits = static_cast<ASN1UINT>(value.numocts * 8 - value.unusedBits);
    return ASN_OK;
}

extern "C" int xd_octstr_s(Asn1Context *pctxt, ASN1OCTET *pdata, ASN1UINT *pnumocts,
                           ASN1TagType tagging, int length)
{
    if (!pdata || !pnumocts) return ASN_E_INVPARAM;
    StringValue value{};
    if (const int status = DecodeOctets(pctxt, tagging, length, &value)) return status;
    if (value.numocts > *pnumocts) return ASN_E_STROVFLW;
    std::copy_n(value.data, value.numocts, pdata);
    *pnumocts = static_cast<ASN1UINT>(value.numocts);
    return ASN_OK;
}

extern "C" int xd_bitstr_s(Asn1Context *pctxt, ASN1OCTET *pdata, ASN1UINT *pnumbits,
                           ASN1TagType tagging, int length)
{
    if (!pdata || !pnumbits) return ASN_E_INVPARAM;
    StringValue value{};
    if (const int status = DecodeBits(pctxt, tagging, length, &value)) return status;
    const size_t numbits = value.numocts * 8 - value.unusedBits;
    if (numbits > *pnumbits) return ASN_E_STROVFLW;
    std::copy_n(value.data, value.numocts, pdata);
    *pnumbits = static_cast<ASN1UINT>(numbits);
    return ASN_OK;
}

extern "C" int xd_charstr(Asn1Context *pctxt, const char **ppvalue, ASN1TagType tagging,
                          ASN1TAG tag, int length)
{
    if (!ppvalue) return ASN_E_INVPARAM;
    StringValue value{};
    if (const int status = DecodeCharacters(pctxt, tag, tagging, length, 1, &value)) return status;
    const auto *text = reinterpret_cast<const char *>(value.data);
    // The value is handed on as zero-terminated text, which a zero octet would cut short.
    if (std::memchr(text, 0, value.numocts) || (tag == ASN_ID_UTF8String && rtUTF8Len(text) < 0))
        return ASN_E_BADVALUE;
    *ppvalue = text;
    return ASN_OK;
}

extern "C" int xd_16BitCharStr(Asn1Context *pctxt, Asn116BitCharString *pvalue, ASN1TagType tagging,
                               ASN1TAG tag, int length)
{
    if (!pvalue) return ASN_E_INVPARAM;
    return DecodeWideChars(pctxt, tag, tagging, length, &pvalue->data, &pvalue->nchars);
}

extern "C" int xd_32BitCharStr(Asn1Context *pctxt, Asn132BitCharString *pvalue, ASN1TagType tagging,
                               ASN1TAG tag, int length)
{
    if (!pvalue) return ASN_E_INVPARAM;
    return DecodeWideChars(pctxt, tag, tagging, length, &pvalue->data, &pvalue->nchars);
}

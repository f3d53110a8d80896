#include "Der.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace kvmsg {

Bytes Header(BYTE tag, size_t cbContents)
{
    Bytes out = {tag};
    if (cbContents < 0x80) {
        out.push_back(static_cast<BYTE>(cbContents));
        return out;
    }
    Bytes length;
    for (size_t rest = cbContents; rest; rest >>= 8)
        length.insert(length.begin(), static_cast<BYTE>(rest));
    out.push_back(static_cast<BYTE>(0x80 | length.size()));
    Append(&out, length);
    return out;
}

void Append(Bytes *out, std::span<const BYTE> part)
{
    out->insert(out->end(), part.begin(), part.end());
}

Bytes Tlv(BYTE tag, std::span<const BYTE> contents)
{
    Bytes out = Header(tag, contents.size());
    Append(&out, contents);
    return out;
}

Bytes Constructed(BYTE tag, std::initializer_list<std::span<const BYTE>> parts)
{
    Bytes contents;
    for (std::span<const BYTE> part : parts)
        Append(&contents, part);
    return Tlv(tag, contents);
}

Bytes ObjectIdentifier(const char *pszObjId)
{
    std::vector<unsigned long> arcs;
    for (const char *cursor = pszObjId; cursor && *cursor;) {
        char *end = nullptr;
        if (*cursor < '0' || *cursor > '9') return {};
        arcs.push_back(std::strtoul(cursor, &end, 10));
        if (*end != '.' && *end != '\0') return {};
        cursor = *end ? end + 1 : end;
    }
    if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] > 39)) return {};
    Bytes contents;
    for (size_t i = 1; i < arcs.size(); ++i) {
        unsigned long arc = i == 1 ? arcs[0] * 40 + arcs[1] : arcs[i];
        Bytes base128 = {static_cast<BYTE>(arc & 0x7F)};
        for (arc >>= 7; arc; arc >>= 7)
            base128.insert(base128.begin(), static_cast<BYTE>(0x80 | (arc & 0x7F)));
        Append(&contents, base128);
    }
    return Tlv(0x06, contents);
}

Bytes SmallInteger(BYTE value)
{
    return {0x02, 0x01, value};
}

Bytes AlgorithmIdentifier(const CRYPT_ALGORITHM_IDENTIFIER &algorithm)
{
    const Bytes oid = ObjectIdentifier(algorithm.pszObjId);
    const std::span<const BYTE> parameters(algorithm.Parameters.pbData,
                                           algorithm.Parameters.cbData);
    return Constructed(0x30, {oid, parameters});
}

ReadStatus ReadHeader(std::span<const BYTE> in, Element *pOut)
{
    if (in.size() < 2) return ReadStatus::NeedMore;
    *pOut = Element{};
    pOut->tag = in[0];
    if ((in[0] & 0x1F) == 0x1F) return ReadStatus::Bad;
    const BYTE first = in[1];
    if (first == 0x80) {
        if (!(in[0] & 0x20)) return ReadStatus::Bad; // indefinite only when constructed
        pOut->indefinite = true;
        pOut->cbHeader = 2;
        return ReadStatus::Ok;
    }
    size_t length = first;
    size_t cbHeader = 2;
    if (first & 0x80) {
        const size_t cbLength = first & 0x7F;
        if (cbLength > 4) return ReadStatus::Bad;
        if (in.size() < 2 + cbLength) return ReadStatus::NeedMore;
        length = 0;
        for (size_t i = 0; i < cbLength; ++i)
            length = (length << 8) | in[2 + i];
        cbHeader += cbLength;
    }
    pOut->cbHeader = cbHeader;
    pOut->length = length;
    pOut->contents = in.subspan(cbHeader, std::min(length, in.size() - cbHeader));
    return ReadStatus::Ok;
}

namespace {

// Indefinite elements nest no deeper than this: deeper input is refused, not recursed into.
constexpr int kMaxDepth = 32;

ReadStatus ReadNested(std::span<const BYTE> in, Element *pOut, int depth)
{
    if (depth > kMaxDepth) return ReadStatus::Bad;
    const ReadStatus status = ReadHeader(in, pOut);
    if (status != ReadStatus::Ok) return status;
    if (!pOut->indefinite)
        return pOut->contents.size() == pOut->length ? ReadStatus::Ok : ReadStatus::NeedMore;
    // An indefinite element: its parts, up to the end-of-contents pair.
    size_t offset = pOut->cbHeader;
    for (;;) {
        const std::span<const BYTE> rest = in.subspan(offset);
        if (rest.size() >= 2 && rest[0] == 0 && rest[1] == 0) {
            pOut->contents = in.subspan(pOut->cbHeader, offset - pOut->cbHeader);
            pOut->cbTrailer = 2;
            return ReadStatus::Ok;
        }
        Element part;
        const ReadStatus partStatus = ReadNested(rest, &part, depth + 1);
        if (partStatus != ReadStatus::Ok) return partStatus;
        offset += part.Size();
    }
}

} // namespace

ReadStatus ReadElement(std::span<const BYTE> in, Element *pOut)
{
    return ReadNested(in, pOut, 0);
}

std::string ObjectIdentifierText(std::span<const BYTE> contents)
{
    std::string text;
    unsigned long arc = 0;
    bool first = true;
    for (size_t i = 0; i < contents.size(); ++i) {
        if (arc > (std::numeric_limits<unsigned long>::max() >> 7)) return {};
        arc = (arc << 7) | (contents[i] & 0x7F);
        if (contents[i] & 0x80) continue;
        if (first) {
            const unsigned long top = arc < 80 ? arc / 40 : 2;
            text = std::to_string(top);
            arc -= top * 40;
            first = false;
        }
        text += '.';
        text += std::to_string(arc);
        arc = 0;
    }
    if (contents.empty() || (contents.back() & 0x80)) return {};
    return text;
}

} // namespace kvmsg

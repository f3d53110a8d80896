#include "IntegerCodec.h"

namespace kvcapi {
namespace {

constexpr BYTE kIntegerTag = 0x02;
constexpr size_t kMaxLengthOctets = 4; // lengths beyond 32 bits are refused

// Octets of the little-endian value that the minimal encoding keeps: a most significant octet
// is redundant while it only repeats the sign of the octet below it (X.690, 8.3.2). An empty
// blob keeps none and encodes as 02 00, as the host's codec does.
size_t SignificantOctets(std::span<const BYTE> littleEndian)
{
    size_t count = littleEndian.size();
    while (count > 1) {
        const BYTE top = littleEndian[count - 1];
        const bool nextNegative = (littleEndian[count - 2] & 0x80) != 0;
        if (top != (nextNegative ? 0xFF : 0x00)) break;
        --count;
    }
    return count;
}

// Short form below 128, otherwise 0x80 | n followed by n octets (X.690, 8.1.3.4-5).
size_t LengthOctets(size_t contentLength)
{
    if (contentLength < 0x80) return 1;
    size_t count = 1;
    for (size_t rest = contentLength; rest > 0; rest >>= 8)
        ++count;
    return count;
}

BYTE *WriteLength(size_t contentLength, BYTE *out)
{
    const size_t octets = LengthOctets(contentLength);
    if (octets == 1) {
        *out = static_cast<BYTE>(contentLength);
        return out + 1;
    }
    *out++ = static_cast<BYTE>(0x80 | (octets - 1));
    for (size_t i = octets - 1; i > 0; --i)
        *out++ = static_cast<BYTE>(contentLength >> (8 * (i - 1)));
    return out;
}

// Reads the length octets that follow the identifier (X.690, 8.1.3); long forms that are not
// minimal are accepted, as the host's BER decoder accepts them.
DWORD ParseLength(std::span<const BYTE> in, size_t *length, size_t *consumed)
{
    if (in.empty()) return kAsn1Eod;
    if (in[0] < 0x80) {
        *length = in[0];
        *consumed = 1;
        return 0;
    }
    const size_t octets = in[0] & 0x7F;
    if (octets == 0) return kAsn1Corrupt; // the indefinite form is for constructed encodings only
    if (octets > kMaxLengthOctets) return kAsn1Large;
    if (in.size() < 1 + octets) return kAsn1Eod;
    size_t value = 0;
    for (size_t i = 1; i <= octets; ++i)
        value = (value << 8) | in[i];
    *length = value;
    *consumed = 1 + octets;
    return 0;
}

} // namespace

size_t MultiByteIntegerDerSize(std::span<const BYTE> littleEndian)
{
    const size_t contentLength = SignificantOctets(littleEndian);
    return 1 + LengthOctets(contentLength) + contentLength;
}

void WriteMultiByteIntegerDer(std::span<const BYTE> littleEndian, BYTE *out)
{
    const size_t contentLength = SignificantOctets(littleEndian);
    *out++ = kIntegerTag;
    out = WriteLength(contentLength, out);
    for (size_t i = contentLength; i > 0; --i)
        *out++ = littleEndian[i - 1];
}

DWORD ParseIntegerContent(std::span<const BYTE> der, std::span<const BYTE> *content)
{
    if (der.empty()) return kAsn1Eod;
    if (der[0] != kIntegerTag) return kAsn1BadTag;
    size_t length = 0, lengthOctets = 0;
    if (const DWORD status = ParseLength(der.subspan(1), &length, &lengthOctets)) return status;
    const std::span<const BYTE> rest = der.subspan(1 + lengthOctets);
    if (length > rest.size()) return kAsn1Eod;
    *content = rest.first(length); // octets after the element are not examined
    return 0;
}

} // namespace kvcapi

// UTF-8 validation and character count (RFC 3629, 4).
#include "Internal.h"

namespace {

// Octets of the sequence starting at `text`, or 0 when it is not well-formed UTF-8:
// overlong forms, surrogates and code points above U+10FFFF are refused.
size_t SequenceLength(const unsigned char *text)
{
    const unsigned char lead = text[0];
    size_t length = 0;
    char32_t codePoint = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
    } else {
        return 0;
    }
    for (size_t i = 1; i < length; i++) {
        if ((text[i] & 0xC0) != 0x80) // also stops at the terminator
            return 0;
        codePoint = (codePoint << 6) | (text[i] & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    if (codePoint < kSmallest[length] || codePoint > 0x10FFFF || surrogate) return 0;
    return length;
}

} // namespace

extern "C" long rtUTF8Len(const char *text)
{
    if (!text) return -1;
    const auto *octets = reinterpret_cast<const unsigned char *>(text);
    long count = 0;
    for (;;) {
        // Runs of ASCII and runs of two-octet sequences (Latin, Greek, Cyrillic and the like)
        // are counted in loops of their own; everything else goes through SequenceLength.
        unsigned lead = *octets;
        while (lead - 1u < 0x7Fu) { // 01..7F
            ++octets;
            ++count;
            lead = *octets;
        }
        while (lead - 0xC2u <= 0xDFu - 0xC2u && (octets[1] & 0xC0) == 0x80) {
            octets += 2;
            ++count;
            lead = *octets;
        }
        if (lead == 0) return count;
        if (lead < 0x80) continue;
        const size_t length = SequenceLength(octets);
        if (length == 0) return -1;
        octets += length;
        ++count;
    }
}

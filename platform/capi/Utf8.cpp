// MultiByteToWideChar / WideCharToMultiByte for CP_UTF8, with a 4-byte wchar_t holding one
// code point per character (no surrogate pairs).
//
// Both directions are always strict, as if MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS were
// given: ill-formed UTF-8 (RFC 3629, 4: overlong forms, encoded surrogates, values above
// U+10FFFF, stray or missing continuation octets) and wide characters that are surrogates or
// above U+10FFFF fail with ERROR_NO_UNICODE_TRANSLATION instead of turning into U+FFFD.
// A buffer that is too small fails with ERROR_INSUFFICIENT_BUFFER and receives nothing.
#include "wintypes.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <span>
#include <type_traits>

namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;

bool IsSurrogate(char32_t cp)
{
    return cp >= 0xD800 && cp <= 0xDFFF;
}

bool IsContinuation(unsigned char octet)
{
    return (octet & 0xC0) == 0x80;
}

// Sequence length announced by a lead octet, and the range its second octet must lie in
// (RFC 3629, 4: the ranges exclude overlong forms, surrogates and values above U+10FFFF).
struct LeadOctet {
    int length;
    unsigned char secondMin, secondMax;
};

LeadOctet ClassifyLead(unsigned char lead)
{
    if (lead < 0x80) return {1, 0, 0};
    if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
    if (lead == 0xE0) return {3, 0xA0, 0xBF};
    if (lead == 0xED) return {3, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
    if (lead == 0xF0) return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
    if (lead == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0}; // continuation octet, C0, C1 or F5..FF
}

// Decodes the sequence at the start of `in`; returns its length, or 0 when it is ill-formed
// or cut short.
size_t DecodeUtf8(std::span<const unsigned char> in, char32_t *codePoint)
{
    if (in.size() >= 2 && in[0] >= 0xC2 && in[0] <= 0xDF && IsContinuation(in[1])) {
        *codePoint = (char32_t{in[0] & 0x1Fu} << 6) | (in[1] & 0x3Fu); // the common two octets
        return 2;
    }
    const LeadOctet lead = ClassifyLead(in[0]);
    const auto length = static_cast<size_t>(lead.length);
    if (length == 0 || in.size() < length) return 0;
    if (length == 1) {
        *codePoint = in[0];
        return 1;
    }
    if (in[1] < lead.secondMin || in[1] > lead.secondMax) return 0;
    char32_t value = in[0] & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if (!IsContinuation(in[i])) return 0;
        value = (value << 6) | (in[i] & 0x3F);
    }
    *codePoint = value;
    return length;
}

// Octets of the UTF-8 form of a code point; 0 when it has none.
size_t Utf8Length(char32_t cp)
{
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (IsSurrogate(cp) || cp > kMaxCodePoint) return 0;
    return cp < 0x10000 ? 3 : 4;
}

void EncodeUtf8(char32_t cp, size_t length, char *out)
{
    static constexpr unsigned char kLeadMarks[5] = {0, 0x00, 0xC0, 0xE0, 0xF0};
    for (size_t i = length - 1; i > 0; --i, cp >>= 6)
        out[i] = static_cast<char>(0x80 | (cp & 0x3F));
    out[0] = static_cast<char>(kLeadMarks[length] | cp);
}

// Length of the run of ASCII characters at the start of `in`: they convert one to one, so
// they are counted and copied a run at a time instead of one sequence at a time.
template <typename Char> bool IsAscii(Char c)
{
    return static_cast<std::make_unsigned_t<Char>>(c) < 0x80u;
}

// Whether the 8 octets at `in` are all ASCII.
bool AllAscii(const unsigned char *in)
{
    uint64_t word;
    std::memcpy(&word, in, sizeof word);
    return (word & 0x8080808080808080) == 0;
}

// The same for 8 wide characters.
bool AllAscii(const wchar_t *in)
{
    uint32_t bits = 0;
    for (int i = 0; i < 8; ++i)
        bits |= static_cast<uint32_t>(in[i]);
    return bits < 0x80u;
}

// Checked eight characters at a time first.
template <typename Char> size_t AsciiRun(std::span<const Char> in)
{
    size_t run = 0;
    while (run + 8 <= in.size() && AllAscii(in.data() + run))
        run += 8;
    while (run < in.size() && IsAscii(in[run]))
        ++run;
    return run;
}

template <typename From, typename To> void CopyAscii(std::span<const From> in, To *out)
{
    for (size_t i = 0; i < in.size(); ++i)
        out[i] = static_cast<To>(in[i]);
}

int Fail(DWORD error)
{
    SetLastError(error);
    return 0;
}

// Length of the run of two-octet sequences at the start of `in` (Latin, Greek, Cyrillic and
// the like), and the characters in it.
size_t TwoOctetRun(std::span<const unsigned char> in, size_t *pchars)
{
    size_t used = 0;
    while (used + 2 <= in.size() && in[used] - 0xC2u <= 0xDFu - 0xC2u &&
           IsContinuation(in[used + 1]))
        used += 2;
    *pchars = used / 2;
    return used;
}

// Wide characters the UTF-8 input converts to; -1 when it is ill-formed.
long long CountWideChars(std::span<const unsigned char> in)
{
    long long count = 0;
    while (!in.empty()) {
        size_t run = AsciiRun(in);
        count += static_cast<long long>(run);
        in = in.subspan(run);
        size_t chars = 0;
        run = TwoOctetRun(in, &chars);
        count += static_cast<long long>(chars);
        in = in.subspan(run);
        if (in.empty() || run != 0 || IsAscii(in[0])) continue;
        char32_t cp;
        const size_t used = DecodeUtf8(in, &cp);
        if (used == 0) return -1;
        in = in.subspan(used);
        ++count;
    }
    return count;
}

// Writes input CountWideChars accepted.
void WriteWideChars(std::span<const unsigned char> in, wchar_t *out)
{
    while (!in.empty()) {
        size_t run = AsciiRun(in);
        CopyAscii(in.first(run), out);
        out += run;
        in = in.subspan(run);
        size_t chars = 0;
        run = TwoOctetRun(in, &chars);
        for (size_t i = 0; i < run; i += 2)
            *out++ = static_cast<wchar_t>(((in[i] & 0x1Fu) << 6) | (in[i + 1] & 0x3Fu));
        in = in.subspan(run);
        if (in.empty() || run != 0 || IsAscii(in[0])) continue;
        char32_t cp = 0;
        in = in.subspan(DecodeUtf8(in, &cp));
        *out++ = static_cast<wchar_t>(cp);
    }
}

// Octets the wide input converts to; -1 when a character has no UTF-8 form.
long long CountUtf8Octets(std::span<const wchar_t> in)
{
    const size_t run = AsciiRun(in);
    auto count = static_cast<long long>(run);
    for (const wchar_t wc : in.subspan(run)) {
        const size_t length = Utf8Length(static_cast<char32_t>(wc));
        if (length == 0) return -1;
        count += static_cast<long long>(length);
    }
    return count;
}

void WriteUtf8(std::span<const wchar_t> in, char *out)
{
    const size_t run = AsciiRun(in);
    CopyAscii(in.first(run), out);
    out += run;
    for (const wchar_t wc : in.subspan(run)) {
        const auto cp = static_cast<char32_t>(wc);
        const size_t length = Utf8Length(cp);
        EncodeUtf8(cp, length, out);
        out += length;
    }
}

// Shared argument rules: a source, a source length of -1 (zero-terminated) or above 0, and
// an output size of 0 (size query) or above 0 with an output buffer.
bool AreValidLengths(const void *src, int cchSrc, const void *dst, int cchDst)
{
    return src && (cchSrc == -1 || cchSrc > 0) && cchDst >= 0 && (cchDst == 0 || dst) && src != dst;
}

} // namespace

extern "C" {

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar)
{
    if (CodePage != CP_UTF8 ||
        !AreValidLengths(lpMultiByteStr, cbMultiByte, lpWideCharStr, cchWideChar))
        return Fail(ERROR_INVALID_PARAMETER);
    if (dwFlags & ~DWORD{MB_ERR_INVALID_CHARS}) return Fail(ERROR_INVALID_FLAGS);

    const size_t cbInput =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    const std::span input(reinterpret_cast<const unsigned char *>(lpMultiByteStr), cbInput);
    const long long cchNeeded = CountWideChars(input);
    if (cchNeeded < 0) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    if (cchNeeded > INT_MAX) return Fail(ERROR_INVALID_PARAMETER);
    if (cchWideChar == 0) return static_cast<int>(cchNeeded);
    if (cchNeeded > cchWideChar) return Fail(ERROR_INSUFFICIENT_BUFFER);
    WriteWideChars(input, lpWideCharStr);
    return static_cast<int>(cchNeeded);
}

// For CP_UTF8 Windows refuses a default character and its "used" flag; so do we.
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar)
{
    if (CodePage != CP_UTF8 || lpDefaultChar || lpUsedDefaultChar ||
        !AreValidLengths(lpWideCharStr, cchWideChar, lpMultiByteStr, cbMultiByte))
        return Fail(ERROR_INVALID_PARAMETER);
    if (dwFlags & ~DWORD{WC_ERR_INVALID_CHARS}) return Fail(ERROR_INVALID_FLAGS);

    const size_t cchInput =
        cchWideChar == -1 ? std::wcslen(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
    const std::span input(lpWideCharStr, cchInput);
    const long long cbNeeded = CountUtf8Octets(input);
    if (cbNeeded < 0) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    if (cbNeeded > INT_MAX) return Fail(ERROR_INVALID_PARAMETER);
    if (cbMultiByte == 0) return static_cast<int>(cbNeeded);
    if (cbNeeded > cbMultiByte) return Fail(ERROR_INSUFFICIENT_BUFFER);
    WriteUtf8(input, lpMultiByteStr);
    return static_cast<int>(cbNeeded);
}

} // extern "C"

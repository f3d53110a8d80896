// Support library: the diagnostic trace sink and bounded UTF-8 / wide-character conversion.
#include "support.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cstdint>
#include <algorithm>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>

namespace {

struct DbContext {
    TSupportDbContext pub; // first word: the level mask
    std::string module;
};
// Callers hold a pointer to `pub`; it converts back to the whole context only because the
// context is standard-layout with `pub` first.
static_assert(std::is_standard_layout_v<DbContext>);

uint32_t MaskFromEnvironment()
{
    const char *text = std::getenv("KV_TRACE_MASK");
    if (!text || !*text)
        return 0;
    // A mask is a number of at most 32 bits and never negative: the conversion would turn "-1"
    // into all ones, which passes the range check where unsigned long has 32 bits.
    if (std::strchr(text, '-'))
        return 0;
    char *end = nullptr;
    errno = 0;
    const unsigned long long mask = std::strtoull(text, &end, 0);
    return (errno || *end || mask > UINT32_MAX) ? 0 : static_cast<uint32_t>(mask);
}

// Every live context, owned here: a module that never calls support_print_done (a library
// unloaded at process exit) leaves its context to this list, released with the library.
std::mutex g_contextsLock;
std::list<std::unique_ptr<DbContext>> &Contexts()
{
    static std::list<std::unique_ptr<DbContext>> contexts;
    return contexts;
}

// Lines of concurrent callers must not interleave within the file.
std::mutex g_writeLock;

void WriteLine(const std::string &line)
{
    std::lock_guard<std::mutex> hold(g_writeLock);
    const char *path = std::getenv("KV_TRACE_FILE");
    FILE *out = (path && *path) ? std::fopen(path, "a") : stderr;
    if (!out)
        return;
    std::fputs(line.c_str(), out);
    if (out != stderr)
        std::fclose(out);
    else
        std::fflush(out);
}

// One UTF-8 sequence at s (at most n octets available) -> code point; returns octets used,
// 0 for the terminator, or -1 when the sequence is invalid or incomplete.
int DecodeUtf8(const unsigned char *s, size_t n, char32_t *cp)
{
    if (n == 0)
        return -1;
    const unsigned char lead = s[0];
    if (lead == 0) {
        *cp = 0;
        return 0;
    }
    if (lead < 0x80) {
        *cp = lead;
        return 1;
    }
    int len;
    char32_t value, min;
    if ((lead & 0xE0) == 0xC0) {
        len = 2, value = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        len = 3, value = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        len = 4, value = lead & 0x07, min = 0x10000;
    } else {
        return -1;
    }
    if (n < static_cast<size_t>(len))
        return -1;
    for (int i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return -1;
        value = (value << 6) | (s[i] & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return -1;
    *cp = value;
    return len;
}

int EncodeUtf8(char32_t cp, unsigned char out[4])
{
    if (cp < 0x80) {
        out[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp >= 0xD800 && cp <= 0xDFFF)
        return -1;
    if (cp < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp <= 0x10FFFF) {
        out[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
        out[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 4;
    }
    return -1;
}

template <typename Char> bool IsAscii(Char c)
{
    return static_cast<std::make_unsigned_t<Char>>(c) - 1u < 0x7Fu;
}

// Whether the 8 octets at `in` are all ASCII characters: no high bit and no zero octet.
bool AllAscii(const unsigned char *in)
{
    constexpr uint64_t kHigh = 0x8080808080808080, kOnes = 0x0101010101010101;
    uint64_t word;
    std::memcpy(&word, in, sizeof word);
    return ((word | ((word - kOnes) & ~word)) & kHigh) == 0;
}

// The same for 8 wide characters.
bool AllAscii(const wchar_t *in)
{
    uint32_t bits = 0;
    bool nonzero = true;
    for (int i = 0; i < 8; ++i) {
        bits |= static_cast<uint32_t>(in[i]);
        nonzero &= in[i] != 0;
    }
    return bits < 0x80u && nonzero;
}

// Length of the run of ASCII characters (1..0x7F) at the start of `in`, at most `limit`:
// those convert one to one, so they are widened or narrowed in one pass. Checked eight at a
// time first.
template <typename Char> size_t AsciiRun(const Char *in, size_t limit)
{
    size_t run = 0;
    while (run + 8 <= limit && AllAscii(in + run))
        run += 8;
    while (run < limit && IsAscii(in[run]))
        ++run;
    return run;
}

template <typename From, typename To> void CopyAscii(const From *in, size_t count, To *out)
{
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<To>(in[i]);
}

} // namespace

extern "C" {

TSupportDbContext *support_print_init(const char *, const char *name, const char *,
                                      uint32_t all_levels)
{
    auto ctx = std::unique_ptr<DbContext>(new (std::nothrow) DbContext);
    if (!ctx)
        return nullptr;
    ctx->pub.level_mask = MaskFromEnvironment() & all_levels;
    ctx->module = name ? name : "";
    std::lock_guard<std::mutex> hold(g_contextsLock);
    return &Contexts().emplace_back(std::move(ctx))->pub;
}

void support_print_done(TSupportDbContext *ctx)
{
    std::lock_guard<std::mutex> hold(g_contextsLock);
    std::erase_if(Contexts(), [ctx](const std::unique_ptr<DbContext> &owned) {
        return &owned->pub == ctx;
    });
}

int support_print_is(TSupportDbContext *ctx, uint32_t level)
{
    return ctx && (ctx->level_mask & level) == level && level != 0;
}

int support_elprint_print_(TSupportDbContext *ctx, const char *fmt, const char *prefix, int line,
                           const char *func, ...)
{
    if (!ctx || !fmt)
        return -1;
    const auto *db = reinterpret_cast<const DbContext *>(ctx);

    va_list args;
    va_start(args, func);
    va_list measure;
    va_copy(measure, args);
    const int cch = std::vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    if (cch < 0) {
        va_end(args);
        return -1;
    }
    std::string message(static_cast<size_t>(cch) + 1, '\0');
    std::vsnprintf(message.data(), message.size(), fmt, args);
    va_end(args);
    message.resize(static_cast<size_t>(cch));

    const std::string text = db->module + ": " + (func ? func : "?") + "(" +
                             std::to_string(line) + "): " + (prefix ? prefix : "") + message +
                             "\n";
    WriteLine(text);
    return static_cast<int>(text.size());
}

size_t safe_mbsrtowcs(wchar_t *dst, const char **src, size_t len, mbstate_t *)
{
    if (!src || !*src)
        return static_cast<size_t>(-1);
    const auto *in = reinterpret_cast<const unsigned char *>(*src);
    size_t avail = std::strlen(*src) + 1; // octets up to and with the terminator
    size_t count = 0;
    for (;;) {
        const size_t run = AsciiRun(in, dst ? std::min(avail - 1, len - count) : avail - 1);
        if (dst) CopyAscii(in, run, dst + count);
        count += run;
        in += run;
        avail -= run;
        if (dst && count == len) {
            *src = reinterpret_cast<const char *>(in);
            return count;
        }
        char32_t cp;
        const int used = DecodeUtf8(in, avail, &cp);
        if (used < 0) {
            if (dst)
                *src = reinterpret_cast<const char *>(in); // at the invalid sequence
            errno = EILSEQ;
            return static_cast<size_t>(-1);
        }
        if (used == 0) {
            if (dst) {
                dst[count] = L'\0';
                *src = nullptr;
            }
            return count;
        }
        if (dst)
            dst[count] = static_cast<wchar_t>(cp);
        ++count;
        in += used;
        avail -= static_cast<size_t>(used);
    }
}

size_t safe_wcsrtombs(char *dst, const wchar_t **src, size_t len, mbstate_t *)
{
    if (!src || !*src)
        return static_cast<size_t>(-1);
    const wchar_t *in = *src;
    const wchar_t *const end = in + std::wcslen(in); // at the terminator
    size_t count = 0;
    for (;; ++in) {
        const auto left = static_cast<size_t>(end - in);
        const size_t run = AsciiRun(in, dst ? std::min(left, len - count) : left);
        if (dst) CopyAscii(in, run, dst + count);
        count += run;
        in += run;
        if (*in == L'\0') {
            if (dst) {
                if (count == len) {
                    *src = in;
                    return count;
                }
                dst[count] = '\0';
                *src = nullptr;
            }
            return count;
        }
        unsigned char bytes[4];
        const int n = EncodeUtf8(static_cast<char32_t>(*in), bytes);
        if (n < 0) {
            if (dst)
                *src = in; // at the character without a UTF-8 form
            errno = EILSEQ;
            return static_cast<size_t>(-1);
        }
        if (dst) {
            if (count + static_cast<size_t>(n) > len) { // never split a character
                *src = in;
                return count;
            }
            std::memcpy(dst + count, bytes, static_cast<size_t>(n));
        }
        count += static_cast<size_t>(n);
    }
}

} // extern "C"

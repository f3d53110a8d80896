#include "support.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

constexpr size_t kFailed = static_cast<size_t>(-1);

TEST(SafeMbsrtowcs, InvalidSequenceFails)
{
    const struct {
        const char *name;
        const char *text;
        size_t goodPrefix; // octets converted before the bad sequence
    } kRows[] = {
        {"overlong",
         "ab\xC0\xAF"
         "cd",
         2},
        {"loneContinuation", "\x80", 0},
        {"encodedSurrogate", "a\xED\xA0\x80", 1},
        {"truncatedAtEnd", "a\xE2\x82", 1},
        {"aboveU10FFFF", "\xF4\x90\x80\x80", 0},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        std::array<wchar_t, 8> out;
        const char *src = row.text;
        std::mbstate_t state{};
        errno = 0;
        EXPECT_EQ(kFailed, safe_mbsrtowcs(out.data(), &src, out.size(), &state));
        EXPECT_EQ(EILSEQ, errno);
        EXPECT_EQ(row.text + row.goodPrefix, src); // at the bad sequence
        src = row.text;
        EXPECT_EQ(kFailed, safe_mbsrtowcs(nullptr, &src, 0, &state));
    }
}

TEST(SafeWcsrtombs, CharacterWithoutUtf8FormFails)
{
    for (const wchar_t bad : {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000)}) {
        SCOPED_TRACE(static_cast<long>(bad));
        const wchar_t text[] = {L'a', bad, L'b', 0};
        std::array<char, 8> out;
        const wchar_t *src = text;
        std::mbstate_t state{};
        errno = 0;
        EXPECT_EQ(kFailed, safe_wcsrtombs(out.data(), &src, out.size(), &state));
        EXPECT_EQ(EILSEQ, errno);
        EXPECT_EQ(text + 1, src); // at the bad character
    }
}

// Against the C library's own conversions in a UTF-8 locale: texts with ASCII runs before,
// between and after characters of every UTF-8 length, at every capacity, and the count alone.
// Nothing is written past the characters stored (and the terminator, when the source ended).
TEST(SafeConversion, SameAsTheCLibrary)
{
    const char *previous = std::setlocale(LC_CTYPE, nullptr);
    const std::string restore = previous ? previous : "C";
    ASSERT_NE(nullptr, std::setlocale(LC_CTYPE, "C.UTF-8"));
    for (const std::string text : {"http://ca.example.org/ca1.crl",
                                   "ab\xD0\x9F\xD0\x9F"
                                   "cdefgh",
                                   "\xE2\x82\xAC 12345678 \xF0\x9F\x98\x80xyz"}) {
        std::array<wchar_t, 40> wide;
        for (size_t len = 0; len < 34; ++len) {
            SCOPED_TRACE(text + " capacity " + std::to_string(len));
            std::array<wchar_t, 40> ours, theirs;
            ours.fill(L'#');
            const char *srcOurs = text.c_str(), *srcTheirs = text.c_str();
            std::mbstate_t state{};
            const size_t n = safe_mbsrtowcs(ours.data(), &srcOurs, len, &state);
            ASSERT_EQ(std::mbsrtowcs(theirs.data(), &srcTheirs, len, &state), n);
            EXPECT_EQ(srcTheirs, srcOurs);
            EXPECT_EQ(0, std::wmemcmp(ours.data(), theirs.data(), n + (srcOurs ? 0 : 1)));
            for (size_t i = n + (srcOurs ? 0 : 1); i < ours.size(); ++i)
                EXPECT_EQ(L'#', ours[i]) << i;
        }
        const char *src = text.c_str();
        std::mbstate_t state{};
        ASSERT_EQ(std::mbstowcs(nullptr, text.c_str(), 0),
                  safe_mbsrtowcs(nullptr, &src, 0, &state));
        src = text.c_str();
        ASSERT_NE(kFailed, safe_mbsrtowcs(wide.data(), &src, wide.size(), &state));
        const wchar_t *wideSrc = wide.data();
        ASSERT_EQ(text.size(), safe_wcsrtombs(nullptr, &wideSrc, 0, &state));
        for (size_t len = 0; len < text.size() + 2; ++len) {
            SCOPED_TRACE(text + " narrowed into " + std::to_string(len));
            std::array<char, 40> ours, theirs;
            ours.fill('#');
            const wchar_t *srcOurs = wide.data(), *srcTheirs = wide.data();
            const size_t n = safe_wcsrtombs(ours.data(), &srcOurs, len, &state);
            ASSERT_EQ(std::wcsrtombs(theirs.data(), &srcTheirs, len, &state), n);
            EXPECT_EQ(srcTheirs, srcOurs);
            EXPECT_EQ(0, std::memcmp(ours.data(), theirs.data(), n + (srcOurs ? 0 : 1)));
            for (size_t i = n + (srcOurs ? 0 : 1); i < ours.size(); ++i)
                EXPECT_EQ('#', ours[i]) << i;
        }
    }
    std::setlocale(LC_CTYPE, restore.c_str());
}

} // namespace

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

// "a", U+041F (D0 9F), U+1F600 (F0 9F 98 80): 1 + 2 + 4 octets, 3 characters.
const char kMixed[] = "a\xD0\x9F\xF0\x9F\x98\x80";
const wchar_t kMixedWide[] = L"a\u041F\U0001F600";

// For every capacity: characters stored, where the source stops, and nothing past `len`.
TEST(SafeMbsrtowcs, StopsAtCapacity)
{
    const struct {
        size_t len;
        size_t converted;
        const char *srcAfter; // null: the terminator was stored
    } kRows[] = {
        {0, 0, kMixed},     {1, 1, kMixed + 1}, {2, 2, kMixed + 3},
        {3, 3, kMixed + 7}, {4, 3, nullptr},    {8, 3, nullptr},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.len);
        std::array<wchar_t, 10> out;
        out.fill(L'#');
        const char *src = kMixed;
        std::mbstate_t state{};
        ASSERT_EQ(row.converted, safe_mbsrtowcs(out.data(), &src, row.len, &state));
        EXPECT_EQ(row.srcAfter, src);
        EXPECT_EQ(0, std::wmemcmp(out.data(), kMixedWide, row.converted));
        const size_t written = row.converted + (row.srcAfter ? 0 : 1);
        if (!row.srcAfter) {
            EXPECT_EQ(L'\0', out[row.converted]);
        }
        for (size_t i = written; i < out.size(); ++i)
            EXPECT_EQ(L'#', out[i]) << i;
    }
}

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

TEST(SafeWcsrtombs, CountOnly)
{
    const wchar_t *src = L"a\u041F\u20AC\U0001F600";
    std::mbstate_t state{};
    EXPECT_EQ(10u, safe_wcsrtombs(nullptr, &src, 0, &state)); // 1 + 2 + 3 + 4
}

// For every capacity: only whole characters are stored, and nothing after them.
TEST(SafeWcsrtombs, NeverSplitsACharacter)
{
    const wchar_t *const text = L"a\u041F\u20AC\U0001F600";
    const std::string utf8 = "a\xD0\x9F\xE2\x82\xAC\xF0\x9F\x98\x80";
    const size_t kWholeAt[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 10}; // by capacity
    const size_t kCharsAt[] = {0, 1, 1, 2, 2, 2, 3, 3, 3, 3, 4, 4};
    for (size_t len = 0; len < std::size(kWholeAt); ++len) {
        SCOPED_TRACE(len);
        std::array<char, 16> out;
        out.fill('#');
        const wchar_t *src = text;
        std::mbstate_t state{};
        ASSERT_EQ(kWholeAt[len], safe_wcsrtombs(out.data(), &src, len, &state));
        EXPECT_EQ(utf8.substr(0, kWholeAt[len]), std::string(out.data(), kWholeAt[len]));
        const bool terminated = len > utf8.size();
        EXPECT_EQ(terminated ? nullptr : text + kCharsAt[len], src);
        size_t next = kWholeAt[len];
        if (terminated) {
            EXPECT_EQ('\0', out[next++]);
        }
        for (; next < out.size(); ++next)
            EXPECT_EQ('#', out[next]) << next;
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
// between and after other characters, at every capacity.
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
            const char *srcOurs = text.c_str(), *srcTheirs = text.c_str();
            std::mbstate_t state{};
            const size_t n = safe_mbsrtowcs(ours.data(), &srcOurs, len, &state);
            ASSERT_EQ(std::mbsrtowcs(theirs.data(), &srcTheirs, len, &state), n);
            EXPECT_EQ(srcTheirs, srcOurs);
            EXPECT_EQ(0, std::wmemcmp(ours.data(), theirs.data(), n));
        }
        const char *src = text.c_str();
        std::mbstate_t state{};
        ASSERT_NE(kFailed, safe_mbsrtowcs(wide.data(), &src, wide.size(), &state));
        for (size_t len = 0; len < text.size() + 2; ++len) {
            SCOPED_TRACE(text + " narrowed into " + std::to_string(len));
            std::array<char, 40> ours, theirs;
            const wchar_t *srcOurs = wide.data(), *srcTheirs = wide.data();
            const size_t n = safe_wcsrtombs(ours.data(), &srcOurs, len, &state);
            ASSERT_EQ(std::wcsrtombs(theirs.data(), &srcTheirs, len, &state), n);
            EXPECT_EQ(srcTheirs, srcOurs);
            EXPECT_EQ(0, std::memcmp(ours.data(), theirs.data(), n));
        }
    }
    std::setlocale(LC_CTYPE, restore.c_str());
}

} // namespace

#include "support.h"

#include "common/FileTest.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

constexpr size_t kFailed = static_cast<size_t>(-1);

// The text without a UTF-8 form of tests/data/capi/utf8_ill_formed.txt fails where it goes wrong.
TEST(SafeConversion, TextWithoutUtf8FormFails)
{
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("capi/utf8_ill_formed.txt")) {
        SCOPED_TRACE(c.where);
        const std::vector<unsigned char> octets = c.Hex("UTF8");
        const std::string text(octets.begin(), octets.end());
        const wchar_t wide[] = {
            L'a', static_cast<wchar_t>(std::stoul(c.Get("Wide", "0"), nullptr, 16)), L'z', 0};
        std::array<wchar_t, 8> out;
        std::array<char, 8> narrow;
        std::mbstate_t state{};
        errno = 0;
        if (c.Has("Wide")) {
            const wchar_t *src = wide;
            EXPECT_EQ(kFailed, safe_wcsrtombs(narrow.data(), &src, narrow.size(), &state));
            EXPECT_EQ(wide + 1, src);
        } else {
            const char *src = text.c_str();
            EXPECT_EQ(kFailed, safe_mbsrtowcs(out.data(), &src, out.size(), &state));
            EXPECT_EQ(text.c_str() + c.Number("Valid"), src);
            src = text.c_str();
            EXPECT_EQ(kFailed, safe_mbsrtowcs(nullptr, &src, 0, &state));
        }
        EXPECT_EQ(EILSEQ, errno);
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

#include "common/FileTest.h"
#include "wintypes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cstdint>
#include <cwchar>
#include <locale.h>
#include <sstream>
#include <string>

namespace {

using testing::Each;

// Valid text in both forms, every UTF-8 length side by side (every scalar value on its own is
// checked against the C library below). U+041F = D0 9F, U+20AC = E2 82 AC, U+1F600 = F0 9F 98 80.
struct TextPair {
    const char *name;
    std::string utf8;
    std::wstring wide;
};
const TextPair kTexts[] = {
    {"ascii", "Hello", L"Hello"},
    {"cyrillic", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
     L"\u041F\u0440\u0438\u0432\u0435\u0442"},
    {"mixedWidths", "a\xD0\x9F\xE2\x82\xAC\xF0\x9F\x98\x80z", L"a\u041F\u20AC\U0001F600z"},
    {"lastCodePoint", "\xF4\x8F\xBF\xBF", L"\U0010FFFF"},
};

TEST(MultiByteToWideChar, ZeroTerminatedInput)
{
    for (const TextPair &text : kTexts) {
        SCOPED_TRACE(text.name);
        const int cchWithNul = static_cast<int>(text.wide.size()) + 1;
        EXPECT_EQ(cchWithNul, MultiByteToWideChar(CP_UTF8, 0, text.utf8.c_str(), -1, nullptr, 0));
        std::array<wchar_t, 32> out;
        out.fill(L'#');
        ASSERT_EQ(cchWithNul,
                  MultiByteToWideChar(CP_UTF8, 0, text.utf8.c_str(), -1, out.data(), cchWithNul));
        EXPECT_EQ(text.wide, std::wstring(out.data())); // terminator written
        EXPECT_EQ(L'#', out[cchWithNul]);
    }
}

TEST(MultiByteToWideChar, ShortBufferWritesNothingPastIt)
{
    std::array<wchar_t, 8> out;
    out.fill(L'#');
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, kTexts[1].utf8.c_str(), -1, out.data(), 6));
    EXPECT_EQ(DWORD{ERROR_INSUFFICIENT_BUFFER}, GetLastError()); // the NUL needed a 7th
    EXPECT_EQ(L'#', out[6]);
}

// The cases of tests/data/capi/utf8_ill_formed.txt, each in its direction.
TEST(Utf8Conversions, TextWithoutUtf8FormFails)
{
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("capi/utf8_ill_formed.txt")) {
        SCOPED_TRACE(c.where);
        const std::vector<unsigned char> octets = c.Hex("UTF8");
        const std::string utf8(octets.begin(), octets.end());
        const wchar_t wide[] = {
            L'a', static_cast<wchar_t>(std::stoul(c.Get("Wide", "0"), nullptr, 16)), L'z', 0};
        std::array<wchar_t, 16> out;
        out.fill(L'#');
        std::array<char, 16> narrow;
        narrow.fill('#');
        const DWORD strict = c.Has("Wide") ? WC_ERR_INVALID_CHARS : MB_ERR_INVALID_CHARS;
        for (const DWORD flags : {DWORD{0}, strict}) {
            SetLastError(0);
            if (c.Has("Wide")) {
                EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, flags, wide, -1, narrow.data(), 16,
                                                 nullptr, nullptr));
                EXPECT_EQ(DWORD{ERROR_NO_UNICODE_TRANSLATION}, GetLastError());
                continue;
            }
            EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, flags, utf8.c_str(), -1, nullptr, 0));
            EXPECT_EQ(DWORD{ERROR_NO_UNICODE_TRANSLATION}, GetLastError());
            SetLastError(0);
            EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, flags, utf8.data(),
                                             static_cast<int>(utf8.size()), out.data(), 16));
            EXPECT_EQ(DWORD{ERROR_NO_UNICODE_TRANSLATION}, GetLastError());
        }
        EXPECT_THAT(out, Each(L'#'));
        EXPECT_THAT(narrow, Each('#'));
    }
}

// The refused arguments of tests/data/capi/utf8_bad_arguments.txt.
TEST(Utf8Conversions, BadArgumentsFail)
{
    wchar_t wideOut[4];
    char out[4];
    BOOL usedDefault = FALSE;
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("capi/utf8_bad_arguments.txt")) {
        SCOPED_TRACE(c.where);
        std::istringstream words(c.Get("Call"));
        std::string function, flags, src, dst, defaultChar, used;
        UINT codePage = 0;
        int cchSrc = 0, cchDst = 0;
        words >> function >> codePage >> flags >> src >> cchSrc >> dst >> cchDst >> defaultChar >>
            used;
        const DWORD dwFlags = static_cast<DWORD>(std::stoul(flags, nullptr, 0));
        SetLastError(0);
        EXPECT_EQ(0, function == "MultiByteToWideChar"
                         ? MultiByteToWideChar(codePage, dwFlags, src == "-" ? nullptr : "a",
                                               cchSrc, dst == "-" ? nullptr : wideOut, cchDst)
                         : WideCharToMultiByte(codePage, dwFlags, src == "-" ? nullptr : L"a",
                                               cchSrc, dst == "-" ? nullptr : out, cchDst,
                                               defaultChar == "-" ? nullptr : defaultChar.c_str(),
                                               used == "-" ? nullptr : &usedDefault));
        EXPECT_EQ(c.Number("Error"), GetLastError());
    }
}

TEST(WideCharToMultiByte, ShortBufferNeverSplitsOrOverruns)
{
    // "aП€": 1 + 2 + 3 octets and the NUL.
    std::array<char, 8> out;
    for (int cb = 1; cb < 7; ++cb) {
        SCOPED_TRACE(cb);
        out.fill('#');
        SetLastError(0);
        EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, L"a\u041F\u20AC", -1, out.data(), cb, nullptr,
                                         nullptr));
        EXPECT_EQ(DWORD{ERROR_INSUFFICIENT_BUFFER}, GetLastError());
        EXPECT_EQ('#', out[static_cast<size_t>(cb)]);
    }
}

// Every Unicode scalar value, against the C library's own UTF-8 converter (C.UTF-8 locale),
// in both directions.
TEST(Utf8Conversions, AgreeWithCLibraryForEveryScalarValue)
{
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (utf8 == static_cast<locale_t>(nullptr)) GTEST_SKIP() << "no C.UTF-8 locale";
    const locale_t previous = uselocale(utf8);
    for (char32_t cp = 1; cp <= 0x10FFFF; ++cp) {
        if (cp == 0xD800) cp = 0xE000;
        const wchar_t wide[] = {static_cast<wchar_t>(cp), 0};
        char expected[8] = {};
        std::mbstate_t state{};
        const size_t cbExpected = std::wcrtomb(expected, wide[0], &state);
        char octets[8] = {};
        const int cb = WideCharToMultiByte(CP_UTF8, 0, wide, 1, octets, 8, nullptr, nullptr);
        ASSERT_EQ(cbExpected, static_cast<size_t>(cb)) << std::hex << static_cast<uint32_t>(cp);
        ASSERT_EQ(std::string(expected, cbExpected), std::string(octets, cbExpected));
        wchar_t back[2] = {};
        ASSERT_EQ(1, MultiByteToWideChar(CP_UTF8, 0, octets, cb, back, 2))
            << std::hex << static_cast<uint32_t>(cp);
        ASSERT_EQ(wide[0], back[0]);
    }
    uselocale(previous);
    freelocale(utf8);
}

} // namespace

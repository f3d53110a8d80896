// The issuer sign tool through its exported entry points, as a host calls them.
#include "kvext/kvext.h"

#include "common/EntryPoints.h"
#include "common/TraceFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

using testing::AllOf;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

const kvtest::CodecEntryPoints kCodec = {OrvaDllIssuerSignToolEncodeEx, OrvaDllIssuerSignToolEncode,
                                         OrvaDllIssuerSignToolDecodeEx,
                                         OrvaDllIssuerSignToolDecode};

struct Tool {
    std::wstring signTool, caTool, signToolCert, caToolCert;
    KVCERT_ISSUER_SIGN_TOOL Caller()
    {
        return {signTool.data(), caTool.data(), signToolCert.data(), caToolCert.data()};
    }
};

// The decoded strings lie back to back after the structure, each with its terminator.
void ExpectLaidOut(const KVCERT_ISSUER_SIGN_TOOL *decoded, DWORD cbDecoded, const Tool &expected)
{
    const std::wstring *texts[] = {&expected.signTool, &expected.caTool, &expected.signToolCert,
                                   &expected.caToolCert};
    const LPWSTR fields[] = {decoded->pwszSignTool, decoded->pwszCATool, decoded->pwszSignToolCert,
                             decoded->pwszCAToolCert};
    auto cursor = reinterpret_cast<const WCHAR *>(decoded + 1);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cursor, fields[i]);
        EXPECT_EQ(*texts[i], std::wstring(fields[i]));
        cursor += texts[i]->size() + 1;
    }
    EXPECT_EQ(reinterpret_cast<const BYTE *>(cursor) - reinterpret_cast<const BYTE *>(decoded),
              cbDecoded);
}

// The vector made by openssl: two Cyrillic texts (two UTF-8 octets per letter, one wide
// character each) and two ASCII ones.
TEST(IssuerSignTool, OpenSslVectorRoundTrips)
{
    const auto der = kvtest::ReadDataFile("codecs/issuer_sign_tool.der");
    ASSERT_FALSE(der.empty());
    Tool expected = {L"СКЗИ Тест-КС2", L"CA tool 2.0", L"Сертификат № 1", L"cert 2"};
    DWORD cb = 0;
    const auto result = kvtest::DecodeEveryWay(kCodec, der, &cb);
    ASSERT_TRUE(result);
    const auto *decoded = static_cast<const KVCERT_ISSUER_SIGN_TOOL *>(result.get());
    EXPECT_EQ(sizeof *decoded + 4 * (13 + 1 + 11 + 1 + 14 + 1 + 6 + 1), cb);
    ExpectLaidOut(decoded, cb, expected);
    const KVCERT_ISSUER_SIGN_TOOL caller = expected.Caller();
    EXPECT_EQ(der, kvtest::EncodeEveryWay(kCodec, &caller));
}

TEST(IssuerSignTool, ShortAndEmptyTexts)
{
    struct Row {
        const char *name;
        Tool tool;
        std::vector<BYTE> der;
    } rows[] = {
        {"Lengths1To4", {L"a", L"bc", L"def", L"ghij"}, {0x30, 0x12, 0x0C, 0x01, 'a', 0x0C, 0x02,
                                                         'b',  'c',  0x0C, 0x03, 'd', 'e',  'f',
                                                         0x0C, 0x04, 'g',  'h',  'i', 'j'}},
        {"Empty",
         {L"", L"", L"", L""},
         {0x30, 0x08, 0x0C, 0x00, 0x0C, 0x00, 0x0C, 0x00, 0x0C, 0x00}},
        // U+1F510 takes four UTF-8 octets and one 4-byte wide character.
        {"OutsideTheBmp",
         {L"\U0001F510", L"x", L"y", L"z"},
         {0x30, 0x0F, 0x0C, 0x04, 0xF0, 0x9F, 0x94, 0x90, 0x0C, 0x01, 'x', 0x0C, 0x01, 'y', 0x0C,
          0x01, 'z'}},
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        const KVCERT_ISSUER_SIGN_TOOL caller = row.tool.Caller();
        EXPECT_EQ(row.der, kvtest::EncodeEveryWay(kCodec, &caller));
        DWORD cb = 0;
        const auto result = kvtest::DecodeEveryWay(kCodec, row.der, &cb);
        ASSERT_TRUE(result);
        ExpectLaidOut(static_cast<const KVCERT_ISSUER_SIGN_TOOL *>(result.get()), cb, row.tool);
    }
}

// A text the UTF-8 conversion rejects fails the encoding with the conversion's code.
TEST(IssuerSignTool, UnconvertibleTextFails)
{
    Tool tool = {L"ok", std::wstring(1, static_cast<wchar_t>(0xD800)), L"c", L"d"};
    const KVCERT_ISSUER_SIGN_TOOL caller = tool.Caller();
    DWORD cb = 0;
    EXPECT_FALSE(OrvaDllIssuerSignToolEncode(kvtest::kEncodingType, kvtest::kStructType, &caller,
                                             nullptr, &cb));
    EXPECT_EQ(DWORD{ERROR_NO_UNICODE_TRANSLATION}, GetLastError());
    EXPECT_THAT(kvtest::TraceLines(),
                ElementsAre(AllOf(HasSubstr("WideCharToUtf8String("),
                                  HasSubstr("WideCharToMultiByte failed (0x459)"))));
}

TEST(IssuerSignTool, MissingFieldIsInvalidParameter)
{
    Tool tool = {L"a", L"b", L"c", L"d"};
    KVCERT_ISSUER_SIGN_TOOL caller = tool.Caller();
    caller.pwszSignToolCert = nullptr;
    DWORD cb = 0;
    EXPECT_FALSE(OrvaDllIssuerSignToolEncode(kvtest::kEncodingType, kvtest::kStructType, &caller,
                                             nullptr, &cb));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
}

} // namespace

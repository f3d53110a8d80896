// The private-key usage period through its exported entry points, as a host calls them.
#include "codecs/PrivateKeyUsagePeriod.h"
#include "kvext/kvext.h"

#include "common/EntryPoints.h"
#include "common/FileTest.h"
#include "common/TraceFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

using testing::AllOf;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

const kvtest::CodecEntryPoints kCodec = {
    OrvaDllPrivateKeyUsagePeriodEncodeEx, OrvaDllPrivateKeyUsagePeriodEncode,
    OrvaDllPrivateKeyUsagePeriodDecodeEx, OrvaDllPrivateKeyUsagePeriodDecode};

// FILETIME of a UTC instant given as seconds since 1970, computed without the library.
FILETIME FileTimeAt(int64_t unixSeconds, uint32_t extra100ns = 0)
{
    const uint64_t ticks =
        static_cast<uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL + extra100ns;
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

uint64_t Ticks(const FILETIME &ft)
{
    return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

std::vector<BYTE> Bytes(const char *text)
{
    return std::vector<BYTE>(text, text + std::strlen(text));
}

// [n] IMPLICIT GeneralizedTime with the given text.
std::vector<BYTE> TimeComponent(BYTE tag, const char *text)
{
    std::vector<BYTE> der = {tag, static_cast<BYTE>(std::strlen(text))};
    const auto body = Bytes(text);
    der.insert(der.end(), body.begin(), body.end());
    return der;
}

std::vector<BYTE> Period(std::vector<BYTE> components)
{
    components.insert(components.begin(), {0x30, static_cast<BYTE>(components.size())});
    return components;
}

const auto *AsPeriod(const kvtest::FlatResult &result)
{
    return static_cast<const KVCERT_PRIVATE_KEY_USAGE_PERIOD *>(result.get());
}

// 2010-03-01 10:11:12 UTC and 2049-12-31 23:59:59 UTC, as `openssl x509 -text` reads the
// extension of tests/data/codecs/pkup_cert.der.
constexpr int64_t kNotBefore = 1267438272;
constexpr int64_t kNotAfter = 2524607999;

// Each bound present or absent, both as openssl wrote them: encoded to the DER, and decoded
// to the instants, each FILETIME right after the structure in bound order.
TEST(PrivateKeyUsagePeriod, BoundsAreOptional)
{
    FILETIME notBefore = FileTimeAt(kNotBefore), opensslNotAfter = FileTimeAt(kNotAfter);
    FILETIME notAfter = FileTimeAt(1907742600); // 2030-06-15 08:30:00 UTC
    struct Row {
        const char *name;
        KVCERT_PRIVATE_KEY_USAGE_PERIOD period;
        std::vector<BYTE> der;
    } rows[] = {
        {"Neither", {nullptr, nullptr}, {0x30, 0x00}},
        {"NotBeforeOnly", {&notBefore, nullptr}, Period(TimeComponent(0x80, "20100301101112Z"))},
        {"NotAfterOnly", {nullptr, &notAfter}, kvtest::ReadDataFile("codecs/pkup_notafter.der")},
        {"Both", {&notBefore, &opensslNotAfter}, kvtest::ReadDataFile("codecs/pkup_ext.der")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.der, kvtest::EncodeEveryWay(kCodec, &row.period));
        DWORD cb = 0;
        const auto result = kvtest::DecodeEveryWay(kCodec, row.der, &cb);
        ASSERT_TRUE(result);
        const auto *period = AsPeriod(result);
        const FILETIME *cursor = reinterpret_cast<const FILETIME *>(period + 1);
        EXPECT_EQ(row.period.pNotBefore ? cursor : nullptr, period->pNotBefore);
        if (row.period.pNotBefore) {
            EXPECT_EQ(Ticks(*row.period.pNotBefore), Ticks(*period->pNotBefore));
            ++cursor;
        }
        EXPECT_EQ(row.period.pNotAfter ? cursor : nullptr, period->pNotAfter);
        if (row.period.pNotAfter) {
            EXPECT_EQ(Ticks(*row.period.pNotAfter), Ticks(*period->pNotAfter));
            ++cursor;
        }
        EXPECT_EQ(reinterpret_cast<const BYTE *>(cursor) - static_cast<const BYTE *>(result.get()),
                  cb);
    }
}

// Fractions of a second are dropped on the way out, not rounded.
TEST(PrivateKeyUsagePeriod, SubSecondPrecisionIsDropped)
{
    FILETIME precise = FileTimeAt(kNotBefore, 9999999); // 0.9999999 s past the second
    const KVCERT_PRIVATE_KEY_USAGE_PERIOD period = {&precise, nullptr};
    const auto der = kvtest::EncodeEveryWay(kCodec, &period);
    EXPECT_EQ(Period(TimeComponent(0x80, "20100301101112Z")), der);
    const auto result = kvtest::DecodeEveryWay(kCodec, der);
    ASSERT_TRUE(result);
    EXPECT_EQ(Ticks(FileTimeAt(kNotBefore)), Ticks(*AsPeriod(result)->pNotBefore));
}

// Texts of tests/data/codecs/pkup-times.txt: the instant each gives, or the failure.
TEST(PrivateKeyUsagePeriod, TimeTexts)
{
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("codecs/pkup-times.txt")) {
        SCOPED_TRACE(c.where);
        const auto tag = static_cast<BYTE>(c.Number("Tag"));
        const auto der = Period(TimeComponent(tag, c.Get("Text").c_str()));
        if (c.Has("Instant")) {
            const auto result = kvtest::DecodeEveryWay(kCodec, der);
            ASSERT_TRUE(result);
            const auto *period = AsPeriod(result);
            const FILETIME *bound = tag == 0x80 ? period->pNotBefore : period->pNotAfter;
            EXPECT_EQ(nullptr, tag == 0x80 ? period->pNotAfter : period->pNotBefore);
            ASSERT_NE(nullptr, bound);
            EXPECT_EQ(Ticks(FileTimeAt(c.Number("Instant"))), Ticks(*bound));
            continue;
        }
        kvtest::ClearTrace();
        DWORD cb = 0;
        ASSERT_TRUE(OrvaDllPrivateKeyUsagePeriodDecodeEx(kvtest::kEncodingType, kvtest::kStructType,
                                                         der.data(), static_cast<DWORD>(der.size()),
                                                         0, nullptr, nullptr, &cb));
        std::vector<BYTE> out(cb);
        EXPECT_FALSE(OrvaDllPrivateKeyUsagePeriodDecodeEx(
            kvtest::kEncodingType, kvtest::kStructType, der.data(), static_cast<DWORD>(der.size()),
            0, nullptr, out.data(), &cb));
        EXPECT_EQ(CRYPT_E_ASN1_ERROR, GetLastError());
        EXPECT_THAT(kvtest::TraceLines(),
                    ElementsAre(AllOf(HasSubstr("Asn1cGeneralizedTimeToFileTime("),
                                      HasSubstr(c.Get("Message")))));
    }
}

// The host's FILETIME range ends where FileTimeToSystemTime's does.
TEST(PrivateKeyUsagePeriod, FileTimeOutOfRangeFailsWithTheHostsCode)
{
    FILETIME tooLate = {0, 0x80000000};
    const KVCERT_PRIVATE_KEY_USAGE_PERIOD period = {nullptr, &tooLate};
    DWORD cb = 0;
    SetLastError(0);
    EXPECT_FALSE(OrvaDllPrivateKeyUsagePeriodEncode(kvtest::kEncodingType, kvtest::kStructType,
                                                    &period, nullptr, &cb));
    SYSTEMTIME st;
    FileTimeToSystemTime(&tooLate, &st);
    const DWORD hostError = GetLastError();
    EXPECT_NE(0u, hostError);
    EXPECT_FALSE(OrvaDllPrivateKeyUsagePeriodEncode(kvtest::kEncodingType, kvtest::kStructType,
                                                    &period, nullptr, &cb));
    EXPECT_EQ(hostError, GetLastError());
}

} // namespace

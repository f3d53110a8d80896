// OID and GeneralizedTime text, UTF-8 counting.
#include "Asn1rtTestSupport.h"

#include <gmock/gmock.h>

#include <cstring>

using namespace asn1rt_test;
using ::testing::StrEq;

namespace {

std::string ArcsText(size_t count)
{
    std::string text = "1.2";
    for (size_t i = 2; i < count; i++)
        text += ".7";
    return text;
}

} // namespace

TEST(Asn1OidText, ParseAndPrint)
{
    const struct {
        const char *name;
        std::string text;
        bool valid;
    } kRows[] = {
        {"GOST R 34.10-2001", "1.2.643.2.2.19", true},
        {"largest arc", "1.2.4294967295", true},
        {"arc 2^32", "1.2.4294967296", false},
        {"second arc above 39 under 2", "2.999.3", true},
        {"second arc 40 under 1", "1.40", false},
        {"second arc 39 under 0", "0.39", true},
        {"first arc 3", "3.1", false},
        {"one arc", "1", false},
        {"empty", "", false},
        {"empty arc", "1..2", false},
        {"trailing dot", "1.2.", false},
        {"leading dot", ".1.2", false},
        {"leading zero", "1.02", false},
        {"letter", "1.2a", false},
        {"space", " 1.2", false},
        {"sign", "1.+2", false},
        {"128 arcs", ArcsText(128), true},
        {"129 arcs", ArcsText(129), false},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        ASN1OBJID oid{};
        oid.numids = 99;
        ASSERT_EQ(row.valid, rtStrToOid(row.text.c_str(), &oid) != 0);
        if (!row.valid) {
            EXPECT_EQ(99u, oid.numids); // left alone
            continue;
        }
        EXPECT_EQ(row.text.size(), rtOidToStrLen(&oid));
        std::vector<char> text(row.text.size() + 1, 'x');
        ASSERT_NE(0, rtOidToStr(&oid, text.data(), text.size()));
        EXPECT_THAT(text.data(), StrEq(row.text));
    }
}

TEST(Asn1OidText, PrintNeedsRoomForTheZero)
{
    const ASN1OBJID oid{3, {1, 2, 643}};
    char text[8];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(0, rtOidToStr(&oid, text, 7)); // "1.2.643" without its zero
    EXPECT_EQ('x', text[0]);
    EXPECT_NE(0, rtOidToStr(&oid, text, 8));
    EXPECT_THAT(text, StrEq("1.2.643"));
    const ASN1OBJID empty{0, {}};
    EXPECT_EQ(0, rtOidToStr(&empty, text, sizeof text));
    EXPECT_EQ(0u, rtOidToStrLen(&empty));
    const ASN1OBJID arc{1, {4294967295u}};
    EXPECT_EQ(10u, rtOidToStrLen(&arc));
}

TEST(Asn1GeneralizedTime, ParseAcceptsValidTimes)
{
    static const struct {
        const char *text;
        Asn1DateTime expected;
    } kRows[] = {
        {"20100302120000Z", {2010, 3, 2, 12, 0, 0, 0, 0, 0, 1}},
        {"20120229235959Z", {2012, 2, 29, 23, 59, 59, 0, 0, 0, 1}}, // leap year
        {"20000229000000Z", {2000, 2, 29, 0, 0, 0, 0, 0, 0, 1}},    // divisible by 400
        {"19000228000000Z", {1900, 2, 28, 0, 0, 0, 0, 0, 0, 1}},
        {"20101231235959Z", {2010, 12, 31, 23, 59, 59, 0, 0, 0, 1}},
        {"201003021200Z", {2010, 3, 2, 12, 0, 0, 0, 0, 0, 1}}, // no seconds
        {"20100302120000.5Z", {2010, 3, 2, 12, 0, 0, 5, 1, 0, 1}},
        {"20100302120000,123Z", {2010, 3, 2, 12, 0, 0, 123, 3, 0, 1}},
        {"20100302120000.000000001Z", {2010, 3, 2, 12, 0, 0, 1, 9, 0, 1}},
        {"20100302120000+0300", {2010, 3, 2, 12, 0, 0, 0, 0, 180, 0}},
        {"20100302120000-0130", {2010, 3, 2, 12, 0, 0, 0, 0, -90, 0}},
        {"20100302120000", {2010, 3, 2, 12, 0, 0, 0, 0, 0, 0}}, // local time
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.text);
        Asn1DateTime dt{};
        ASSERT_EQ(0, rtParseGeneralizedTime(nullptr, row.text, &dt));
        const Asn1DateTime &e = row.expected;
        EXPECT_EQ(e.year, dt.year);
        EXPECT_EQ(e.month, dt.month);
        EXPECT_EQ(e.day, dt.day);
        EXPECT_EQ(e.hour, dt.hour);
        EXPECT_EQ(e.minute, dt.minute);
        EXPECT_EQ(e.second, dt.second);
        EXPECT_EQ(e.fraction, dt.fraction);
        EXPECT_EQ(e.fractionDigits, dt.fractionDigits);
        EXPECT_EQ(e.diffMinutes, dt.diffMinutes);
        EXPECT_EQ(e.utc, dt.utc);
    }
}

// Each field in range; a day past the end of its month is refused (the decoder of the
// private key usage period repairs such dates itself).
TEST(Asn1GeneralizedTime, ParseRejectsInvalidTimes)
{
    static const char *const kRows[] = {
        "20100230120000Z", // 30 February
        "20100229120000Z", // 29 February, not a leap year
        "19000229120000Z", // 1900 is not a leap year
        "20100431120000Z", // 31 April
        "20101232000000Z", // day 32
        "20101200000000Z", // day 0
        "20101301000000Z", // month 13
        "20100001000000Z", // month 0
        "20100302240000Z", // hour 24
        "20100302126000Z", // minute 60
        "20100302120060Z", // second 60
        "2010030212Z",     // no minutes
        "20100302120000.Z",
        "20100302120000.1234567890Z", // ten fraction digits
        "20100302120000ZZ",
        "20100302120000+2400",
        "20100302120000+036",
        "20100302120000 ",
        "2010-03-02",
        "",
    };
    for (const char *text : kRows) {
        SCOPED_TRACE(text);
        Asn1DateTime dt{};
        dt.year = 7;
        EXPECT_EQ(ASN_E_BADVALUE, rtParseGeneralizedTime(nullptr, text, &dt));
        EXPECT_EQ(7, dt.year); // a failure leaves the record alone
    }
}

TEST(Asn1GeneralizedTime, MakeText)
{
    static const struct {
        const char *name;
        Asn1DateTime dt;
        const char *text;
    } kRows[] = {
        {"plain", {2010, 3, 2, 12, 0, 0, 0, 0, 0, 1}, "20100302120000Z"},
        {"1900", {1900, 1, 1, 0, 0, 0, 0, 0, 0, 1}, "19000101000000Z"},
        {"29 February 2000", {2000, 2, 29, 23, 59, 59, 0, 0, 0, 1}, "20000229235959Z"},
        {"fraction", {2010, 3, 2, 12, 0, 0, 123, 3, 0, 1}, "20100302120000.123Z"},
        {"fraction, trailing zeros dropped",
         {2010, 3, 2, 12, 0, 0, 500, 3, 0, 1},
         "20100302120000.5Z"},
        {"fraction with leading zeros", {2010, 3, 2, 12, 0, 0, 5, 3, 0, 1}, "20100302120000.005Z"},
        {"zero fraction left out", {2010, 3, 2, 12, 0, 0, 0, 3, 0, 1}, "20100302120000Z"},
        {"local time east of UTC", {2010, 1, 1, 1, 0, 0, 0, 0, 180, 0}, "20091231220000Z"},
        {"local time west of UTC", {2012, 2, 28, 23, 0, 0, 0, 0, -90, 0}, "20120229003000Z"},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        TestContext ctx;
        char *text = nullptr;
        ASSERT_EQ(0, rtMakeGeneralizedTime(ctx, &row.dt, &text, 0));
        EXPECT_THAT(text, StrEq(row.text));
        Asn1DateTime back{}; // what we make, we parse
        EXPECT_EQ(0, rtParseGeneralizedTime(ctx, text, &back));
    }
}

TEST(Asn1GeneralizedTime, MakeRefusesInvalidRecords)
{
    static const struct {
        const char *name;
        Asn1DateTime dt;
    } kRows[] = {
        {"29 February 1900", {1900, 2, 29, 0, 0, 0, 0, 0, 0, 1}},
        {"month 13", {2010, 13, 1, 0, 0, 0, 0, 0, 0, 1}},
        {"day 32", {2010, 1, 32, 0, 0, 0, 0, 0, 0, 1}},
        {"year 10000", {10000, 1, 1, 0, 0, 0, 0, 0, 0, 1}},
        {"fraction wider than its digits", {2010, 1, 1, 0, 0, 0, 1000, 3, 0, 1}},
        {"ten fraction digits", {2010, 1, 1, 0, 0, 0, 1, 10, 0, 1}},
        {"local time before year 0", {0, 1, 1, 0, 0, 0, 0, 0, 60, 0}},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        TestContext ctx;
        char *text = nullptr;
        EXPECT_EQ(ASN_E_BADVALUE, rtMakeGeneralizedTime(ctx, &row.dt, &text, 0));
        EXPECT_EQ(nullptr, text);
    }
}

TEST(Asn1GeneralizedTime, MakeIntoCallerBuffer)
{
    const Asn1DateTime dt{2010, 3, 2, 12, 0, 0, 0, 0, 0, 1};
    char buffer[17];
    std::memset(buffer, 'x', sizeof buffer);
    char *text = buffer;
    EXPECT_EQ(ASN_E_STROVFLW, rtMakeGeneralizedTime(nullptr, &dt, &text, 15));
    EXPECT_EQ('x', buffer[0]);
    ASSERT_EQ(0, rtMakeGeneralizedTime(nullptr, &dt, &text, 16));
    EXPECT_EQ(buffer, text);
    EXPECT_THAT(buffer, StrEq("20100302120000Z"));
    EXPECT_EQ('x', buffer[16]);
}

TEST(Asn1Utf8, CountsCharactersAndRefusesMalformed)
{
    static const struct {
        const char *name;
        const char *text;
        long count;
    } kRows[] = {
        {"empty", "", 0},
        {"ASCII", "abc", 3},
        {"Cyrillic", "Привет", 6},
        {"three octets", "\xE2\x82\xAC", 1},
        {"four octets, largest", "\xF4\x8F\xBF\xBF", 1},
        {"lone continuation", "a\x80", -1},
        {"overlong two octets", "\xC0\xAF", -1},
        {"overlong three octets", "\xE0\x80\xAF", -1},
        {"surrogate", "\xED\xA0\x80", -1},
        {"above U+10FFFF", "\xF4\x90\x80\x80", -1},
        {"truncated at the end", "\xE2\x82", -1},
        {"invalid lead", "\xFF", -1},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.count, rtUTF8Len(row.text));
    }
}

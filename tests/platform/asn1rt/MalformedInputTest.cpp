// Malformed input: every failure has its status, and nothing is read outside the input
// (each input is a heap copy of its exact size, so an overread shows under ASan).
#include "Asn1rtTestSupport.h"

#include <gmock/gmock.h>

#include <functional>

using namespace asn1rt_test;

namespace {

using Decoder = std::function<int(Asn1Context *)>;

int DecodeOpenType(Asn1Context *c)
{
    const ASN1OCTET *data = nullptr;
    ASN1UINT numocts = 0;
    return xd_OpenType(c, &data, &numocts);
}

int DecodeOctets(Asn1Context *c)
{
    const ASN1OCTET *data = nullptr;
    ASN1UINT numocts = 0;
    return xd_octstr(c, &data, &numocts, ASN1EXPL, 0);
}

int DecodeBits(Asn1Context *c)
{
    const ASN1OCTET *data = nullptr;
    ASN1UINT numbits = 0;
    return xd_bitstr(c, &data, &numbits, ASN1EXPL, 0);
}

int DecodeOid(Asn1Context *c)
{
    ASN1OBJID oid{};
    return xd_objid(c, &oid, ASN1EXPL, 0);
}

Decoder DecodeText(ASN1TAG tag)
{
    return [tag](Asn1Context *c) {
        const char *text = nullptr;
        return xd_charstr(c, &text, ASN1EXPL, tag, 0);
    };
}

int SeekHeader(Asn1Context *c)
{
    ASN1TAG tag = 0;
    int length = 0;
    return xd_tag_len(c, &tag, &length, XM_SEEK);
}

// A SEQUENCE walked as a generated decoder walks it, each component as an open type.
int DecodeSequence(Asn1Context *c)
{
    int length = 0;
    if (const int status = xd_match1(c, 0x10, &length)) return status;
    Asn1Ccb ccb;
    xd_ccbInit(c, &ccb, length);
    while (xd_chkend(c, &ccb)) {
        if (const int status = DecodeOpenType(c)) return status;
    }
    return xd_endcons(c, &ccb);
}

std::string Nested(int levels, const char *innermost)
{
    std::string der;
    for (int i = 0; i < levels; i++)
        der += "2480";
    der += innermost;
    for (int i = 0; i < levels; i++)
        der += "0000";
    return der;
}

std::string OidOfArcs(size_t arcs)
{
    // 1.2 then (arcs - 2) arcs of 1: one octet each
    const size_t length = arcs - 1;
    std::string der = length < 0x80 ? "06" : "0681";
    der += ToHex(Bytes{static_cast<uint8_t>(length)});
    der += "2a";
    for (size_t i = 2; i < arcs; i++)
        der += "01";
    return der;
}

} // namespace

TEST(BerMalformedInput, HeaderFaults)
{
    static const struct {
        const char *name;
        const char *der;
        int status;
    } kRows[] = {
        {"empty input", "", ASN_E_ENDOFBUF},
        {"identifier only", "04", ASN_E_ENDOFBUF},
        {"length past the input", "0405 01020304", ASN_E_BUFOVFLW},
        {"long length past the input", "048180 00", ASN_E_BUFOVFLW},
        {"truncated long length", "0482 01", ASN_E_ENDOFBUF},
        {"five length octets", "0485 0000000001 00", ASN_E_INVLEN},
        {"length above INT32_MAX", "0484 80000000", ASN_E_INVLEN},
        {"reserved length octet", "04ff", ASN_E_INVLEN},
        {"indefinite primitive", "0480 0000", ASN_E_INVLEN},
        {"high tag number with leading zero group", "9f80 01 00", ASN_E_BADTAG},
        {"high tag number above 29 bits", "9f c0808080 00 00", ASN_E_BADTAG},
        {"high-tag form of a small number", "9f05 00", ASN_E_BADTAG},
        {"truncated high tag number", "9f81", ASN_E_ENDOFBUF},
        {"universal 0 with contents", "0001 00", ASN_E_BADTAG},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        TestContext ctx;
        const Bytes der = Hex(row.der);
        // xd_setp wants a non-null pointer; an empty input is a one-octet buffer of size 0
        // read through the decode buffer directly.
        if (der.empty()) {
            static const ASN1OCTET kNothing[1] = {0};
            ctx->buffer = Asn1DecodeBuffer{kNothing, 0, 0, 0, 0};
        } else {
            ASSERT_EQ(0, ctx.Decode(der));
        }
        EXPECT_EQ(row.status, SeekHeader(ctx));
        EXPECT_EQ(row.status, DecodeOpenType(ctx));
        EXPECT_EQ(0u, ctx.Position());
    }
}

// Every proper prefix of a good encoding fails with a negative status, and the full
// encoding decodes.
TEST(BerMalformedInput, TruncationAtEveryOffset)
{
    const struct {
        const char *name;
        const char *der;
        Decoder decode;
    } kRows[] = {
        {"SEQUENCE, definite", "3010 020180 0603883703 9f81480105 0481 00", DecodeSequence},
        {"SEQUENCE, indefinite", "3080 3080 020101 0000 a080 0400 0000 0500 0000", DecodeSequence},
        {"open type, high tag", "bf8148 80 020101 0000", DecodeOpenType},
        {"bit string, X.690 constructed", "2380 0303000a3b 0305045f291cd0 0000", DecodeBits},
        {"octets, nested", "2480 2480 040101 0000 2403 040102 0000", DecodeOctets},
        {"OID:1.3.6.1.4.1.4294967295", "060a2b060104018fffffff7f", DecodeOid},
        {"text, constructed", "3680 040161 04026263 0000", DecodeText(ASN_ID_IA5String)},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        const Bytes der = Hex(row.der);
        for (size_t size = 1; size <= der.size(); size++) {
            SCOPED_TRACE(size);
            TestContext ctx;
            ASSERT_EQ(0,
                      ctx.Decode(Bytes(der.begin(), der.begin() + static_cast<ptrdiff_t>(size))));
            const int status = row.decode(ctx);
            if (size < der.size())
                EXPECT_GT(0, status);
            else
                EXPECT_EQ(0, status);
        }
    }
}

// Constructed strings nest at most ASN_K_MAXDEPTH deep; the guard is back to zero after.
TEST(BerMalformedInput, DeepConstructedStrings)
{
    static const struct {
        int levels;
        int status;
    } kRows[] = {{ASN_K_MAXDEPTH, 0}, {ASN_K_MAXDEPTH + 1, ASN_E_TOODEEP}, {1000, ASN_E_TOODEEP}};
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.levels);
        TestContext ctx;
        ASSERT_EQ(0, ctx.Decode(Hex(Nested(row.levels, "040142"))));
        EXPECT_EQ(row.status, DecodeOctets(ctx));
        EXPECT_EQ(0u, ctx->depth);
    }
}

TEST(BerMalformedInput, ObjectIdentifiers)
{
    const struct {
        const char *name;
        std::string der;
        int status;
    } kRows[] = {
        {"128 arcs", OidOfArcs(128), 0},
        {"129 arcs", OidOfArcs(129), ASN_E_INVOBJID},
        {"arc 2^32", "0607 2b 06 90808080 00", ASN_E_INVOBJID},
        {"second arc 2^32 under 2", "0605 9080808050", ASN_E_INVOBJID},
        {"subidentifier with leading 0x80", "0603 2b 8001", ASN_E_INVOBJID},
        {"last octet continues", "0602 2b 86", ASN_E_INVOBJID},
        {"empty", "0600", ASN_E_INVLEN},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        TestContext ctx;
        ASSERT_EQ(0, ctx.Decode(Hex(row.der)));
        ASN1OBJID oid{};
        oid.numids = 7;
        EXPECT_EQ(row.status, xd_objid(ctx, &oid, ASN1EXPL, 0));
        EXPECT_EQ(row.status == 0 ? 128u : 7u, oid.numids); // a failure leaves the value alone
    }
}

TEST(BerMalformedInput, StringContents)
{
    const struct {
        const char *name;
        const char *der;
        Decoder decode;
        int status;
    } kRows[] = {
        {"zero octet inside text", "1603 610062", DecodeText(ASN_ID_IA5String), ASN_E_BADVALUE},
        {"invalid UTF-8", "0c02 c0af", DecodeText(ASN_ID_UTF8String), ASN_E_BADVALUE},
        {"BMPString of odd length", "1e03 004100",
         [](Asn1Context *c) {
             Asn116BitCharString value{};
             return xd_16BitCharStr(c, &value, ASN1EXPL, ASN_ID_BMPString, 0);
         },
         ASN_E_INVLEN},
        {"UniversalString of six octets", "1c06 000000410000",
         [](Asn1Context *c) {
             Asn132BitCharString value{};
             return xd_32BitCharStr(c, &value, ASN1EXPL, ASN_ID_UniversalString, 0);
         },
         ASN_E_INVLEN},
        {"bit string without unused-bits octet", "0300", DecodeBits, ASN_E_INVLEN},
        {"eight unused bits", "0302 08ff", DecodeBits, ASN_E_BADVALUE},
        {"unused bits with no octets", "0301 03", DecodeBits, ASN_E_BADVALUE},
        {"unused bits in a middle segment", "2380 030204f0 030200ff 0000", DecodeBits,
         ASN_E_BADVALUE},
        {"segment of another type", "2480 020101 0000", DecodeOctets, ASN_E_BADTAG},
        {"segment past the definite length", "2403 040201 02", DecodeOctets, ASN_E_INVLEN},
        {"indefinite without end", "2480 040101", DecodeOctets, ASN_E_ENDOFBUF},
        {"constructed INTEGER", "2203 020101",
         [](Asn1Context *c) {
             ASN1INT value = 0;
             return xd_integer(c, &value, ASN1EXPL, 0);
         },
         ASN_E_IDNOTFOU},
        {"open type at end-of-contents", "0000", DecodeOpenType, ASN_E_BADTAG},
        {"open type missing inner end", "3080 3080 0000", DecodeOpenType, ASN_E_ENDOFBUF},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        TestContext ctx;
        ASSERT_EQ(0, ctx.Decode(Hex(row.der)));
        EXPECT_EQ(row.status, row.decode(ctx));
    }
}

// An implicit tag read in constructed form does not suit a primitive-only type.
TEST(BerMalformedInput, ConstructedImplicitPrimitive)
{
    TestContext ctx;
    ASSERT_EQ(0, ctx.Decode(Hex("a103 020105")));
    int length = 0;
    ASSERT_EQ(0, xd_Tag1AndLen(ctx, &length));
    ASN1INT value = 0;
    EXPECT_EQ(ASN_E_BADTAG, xd_integer(ctx, &value, ASN1IMPL, length));
}

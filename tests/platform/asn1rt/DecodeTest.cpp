// Decoders on well-formed input: DER made by `openssl asn1parse -genstr '<text>'`, BER
// forms from X.690 examples, and the buffer bookkeeping generated decoders rely on.
#include "Asn1rtTestSupport.h"

#include <gmock/gmock.h>

#include <functional>

using namespace asn1rt_test;
using ::testing::ElementsAre;
using ::testing::StrEq;

namespace {

// Decodes `der` with one primitive decoder; the check sees the context afterwards.
struct DecodeRow {
    const char *name;
    const char *der;
    std::function<void(Asn1Context *)> decodeAndCheck;
};

void RunDecodeRows(const std::vector<DecodeRow> &rows)
{
    for (const DecodeRow &row : rows) {
        SCOPED_TRACE(row.name);
        TestContext ctx;
        const Bytes der = Hex(row.der);
        ASSERT_EQ(0, ctx.Decode(der));
        row.decodeAndCheck(ctx);
        EXPECT_EQ(der.size(), ctx.Position()) << "the whole value is consumed";
    }
}

std::function<void(Asn1Context *)> IsInt(ASN1INT expected)
{
    return [expected](Asn1Context *c) {
        ASN1INT value = 0;
        ASSERT_EQ(0, xd_integer(c, &value, ASN1EXPL, 0));
        EXPECT_EQ(expected, value);
    };
}

std::function<void(Asn1Context *)> IsOid(std::vector<ASN1UINT> arcs)
{
    return [arcs](Asn1Context *c) {
        ASN1OBJID oid{};
        ASSERT_EQ(0, xd_objid(c, &oid, ASN1EXPL, 0));
        EXPECT_EQ(arcs, std::vector<ASN1UINT>(oid.subid, oid.subid + oid.numids));
    };
}

std::function<void(Asn1Context *)> IsOctets(const char *hex)
{
    return [hex](Asn1Context *c) {
        const ASN1OCTET *data = nullptr;
        ASN1UINT numocts = 0;
        ASSERT_EQ(0, xd_octstr(c, &data, &numocts, ASN1EXPL, 0));
        EXPECT_EQ(ToHex(Hex(hex)), ToHex(data, numocts));
    };
}

std::function<void(Asn1Context *)> IsBits(const char *hex, ASN1UINT numbits)
{
    return [hex, numbits](Asn1Context *c) {
        const ASN1OCTET *data = nullptr;
        ASN1UINT decodedBits = 0;
        ASSERT_EQ(0, xd_bitstr(c, &data, &decodedBits, ASN1EXPL, 0));
        EXPECT_EQ(numbits, decodedBits);
        EXPECT_EQ(ToHex(Hex(hex)), ToHex(data, (decodedBits + 7) / 8));
    };
}

std::function<void(Asn1Context *)> IsText(ASN1TAG tag, const char *text)
{
    return [tag, text](Asn1Context *c) {
        const char *value = nullptr;
        ASSERT_EQ(0, xd_charstr(c, &value, ASN1EXPL, tag, 0));
        EXPECT_THAT(value, StrEq(text));
    };
}

} // namespace

TEST(BerDecode, IntegersFromOpenssl)
{
    RunDecodeRows({
        {"INTEGER:0", "020100", IsInt(0)},
        {"INTEGER:127", "02017f", IsInt(127)},
        {"INTEGER:128", "02020080", IsInt(128)},
        {"INTEGER:-128", "020180", IsInt(-128)},
        {"INTEGER:-129", "0202ff7f", IsInt(-129)},
        {"INTEGER:2147483647", "02047fffffff", IsInt(2147483647)},
        {"INTEGER:-2147483648", "020480000000", IsInt(-2147483647 - 1)},
        {"redundant leading zeros (BER)", "0203000001", IsInt(1)},
        {"INTEGER:4294967295 unsigned", "020500ffffffff",
         [](Asn1Context *c) {
             ASN1UINT value = 0;
             ASSERT_EQ(0, xd_unsigned(c, &value, ASN1EXPL, 0));
             EXPECT_EQ(4294967295u, value);
         }},
        {"INTEGER:65535 uint16", "020300ffff",
         [](Asn1Context *c) {
             ASN1USINT value = 0;
             ASSERT_EQ(0, xd_uint16(c, &value, ASN1EXPL, 0));
             EXPECT_EQ(65535, value);
         }},
        {"ENUMERATED:5", "0a0105",
         [](Asn1Context *c) {
             ASN1INT value = 0;
             ASSERT_EQ(0, xd_enum(c, &value, ASN1EXPL, 0));
             EXPECT_EQ(5, value);
         }},
        {"INTEGER:0x123456789ABCDEF0 big", "0208123456789abcdef0",
         [](Asn1Context *c) {
             const char *text = nullptr;
             ASSERT_EQ(0, xd_bigint(c, &text, ASN1EXPL, 0));
             EXPECT_THAT(text, StrEq("0x123456789abcdef0"));
         }},
        {"INTEGER:-129 big", "0202ff7f",
         [](Asn1Context *c) {
             const char *text = nullptr;
             ASSERT_EQ(0, xd_bigint(c, &text, ASN1EXPL, 0));
             EXPECT_THAT(text, StrEq("0xff7f"));
         }},
    });
}

// Values that do not fit their field are refused rather than cut.
TEST(BerDecode, IntegerRanges)
{
    static const struct {
        const char *name;
        const char *der;
        std::function<int(Asn1Context *)> decode;
        int status;
    } kRows[] = {
        {"2^32-1 as int", "020500ffffffff",
         [](Asn1Context *c) {
             ASN1INT v;
             return xd_integer(c, &v, ASN1EXPL, 0);
         },
         ASN_E_INTOVFLW},
        {"2^31 as int", "02050080000000",
         [](Asn1Context *c) {
             ASN1INT v;
             return xd_integer(c, &v, ASN1EXPL, 0);
         },
         ASN_E_INTOVFLW},
        {"-1 as unsigned", "0201ff",
         [](Asn1Context *c) {
             ASN1UINT v;
             return xd_unsigned(c, &v, ASN1EXPL, 0);
         },
         ASN_E_INTOVFLW},
        {"2^32 as unsigned", "02050100000000",
         [](Asn1Context *c) {
             ASN1UINT v;
             return xd_unsigned(c, &v, ASN1EXPL, 0);
         },
         ASN_E_INTOVFLW},
        {"65536 as uint16", "0203010000",
         [](Asn1Context *c) {
             ASN1USINT v;
             return xd_uint16(c, &v, ASN1EXPL, 0);
         },
         ASN_E_INTOVFLW},
        {"nine octets", "0209010000000000000000",
         [](Asn1Context *c) {
             ASN1INT v;
             return xd_integer(c, &v, ASN1EXPL, 0);
         },
         ASN_E_INTOVFLW},
        {"empty contents", "0200",
         [](Asn1Context *c) {
             ASN1INT v;
             return xd_integer(c, &v, ASN1EXPL, 0);
         },
         ASN_E_INVLEN},
        {"empty big integer", "0200",
         [](Asn1Context *c) {
             const char *t;
             return xd_bigint(c, &t, ASN1EXPL, 0);
         },
         ASN_E_INVLEN},
        {"BOOLEAN of two octets", "0102ffff",
         [](Asn1Context *c) {
             ASN1BOOL v;
             return xd_boolean(c, &v, ASN1EXPL, 0);
         },
         ASN_E_INVLEN},
        {"NULL with contents", "050100", [](Asn1Context *c) { return xd_null(c, ASN1EXPL); },
         ASN_E_INVLEN},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        TestContext ctx;
        ASSERT_EQ(0, ctx.Decode(Hex(row.der)));
        EXPECT_EQ(row.status, row.decode(ctx));
    }
}

TEST(BerDecode, OtherPrimitivesFromOpenssl)
{
    RunDecodeRows({
        {"BOOLEAN:TRUE", "0101ff",
         [](Asn1Context *c) {
             ASN1BOOL value = 0;
             ASSERT_EQ(0, xd_boolean(c, &value, ASN1EXPL, 0));
             EXPECT_EQ(1, value);
         }},
        {"NULL", "0500", [](Asn1Context *c) { EXPECT_EQ(0, xd_null(c, ASN1EXPL)); }},
        {"OID:1.2.643.2.2.19", "06062a8503020213", IsOid({1, 2, 643, 2, 2, 19})},
        {"OID:2.999.3", "0603883703", IsOid({2, 999, 3})},
        {"OID:0.39", "060127", IsOid({0, 39})},
        {"OID:1.3.6.1.4.1.4294967295", "060a2b060104018fffffff7f",
         IsOid({1, 3, 6, 1, 4, 1, 4294967295u})},
        {"largest second arc under 2", "0605908080804f", IsOid({2, 4294967295u})},
        {"FORMAT:HEX,OCTETSTRING:0102", "04020102", IsOctets("0102")},
        {"empty OCTET STRING", "0400", IsOctets("")},
        {"BITSTRING:A", "03020041", IsBits("41", 8)},
        {"FORMAT:BITLIST,BITSTRING:1,8", "0303074080", IsBits("4080", 9)},
        {"empty BIT STRING", "030100", IsBits("", 0)},
        {"unused bits cleared (BER)", "030205ff", IsBits("e0", 3)},
        {"IA5STRING:abc", "1603616263", IsText(ASN_ID_IA5String, "abc")},
        {"FORMAT:UTF8,UTF8String:Привет", "0c0cd09fd180d0b8d0b2d0b5d182",
         IsText(ASN_ID_UTF8String, "Привет")},
        {"GENTIME:20100302120000Z", "180f32303130303330323132303030305a",
         IsText(ASN_ID_GeneralTime, "20100302120000Z")},
        {"BMPSTRING:Ab", "1e0400410062",
         [](Asn1Context *c) {
             Asn116BitCharString value{};
             ASSERT_EQ(0, xd_16BitCharStr(c, &value, ASN1EXPL, ASN_ID_BMPString, 0));
             EXPECT_THAT(std::vector<ASN1USINT>(value.data, value.data + value.nchars),
                         ElementsAre('A', 'b'));
         }},
        {"UNIVERSALSTRING:Ab", "1c080000004100000062",
         [](Asn1Context *c) {
             Asn132BitCharString value{};
             ASSERT_EQ(0, xd_32BitCharStr(c, &value, ASN1EXPL, ASN_ID_UniversalString, 0));
             EXPECT_THAT(std::vector<ASN1UINT>(value.data, value.data + value.nchars),
                         ElementsAre('A', 'b'));
         }},
    });
}

// BER constructed strings, definite and indefinite, nested, joined into one value.
TEST(BerDecode, ConstructedStrings)
{
    RunDecodeRows({
        // X.690 8.6.4.2 example: '0A3B5F291CD'H in constructed, indefinite form
        {"X.690 bit string, indefinite", "2380 0303000a3b 0305045f291cd0 0000",
         IsBits("0a3b5f291cd0", 44)},
        {"X.690 bit string, definite", "230c 0303000a3b 0305045f291cd0",
         IsBits("0a3b5f291cd0", 44)},
        {"octets, indefinite", "2480 04020102 040103 0000", IsOctets("010203")},
        {"octets, definite", "2407 04020102 040103", IsOctets("010203")},
        {"octets, nested", "2480 2480 040101 0000 2403 040102 0000", IsOctets("0102")},
        {"octets, no segments", "2480 0000", IsOctets("")},
        {"text in OCTET STRING segments", "3680 040161 04026263 0000",
         IsText(ASN_ID_IA5String, "abc")},
        {"text in its own segments", "3609 160161 16026263 0400", IsText(ASN_ID_IA5String, "abc")},
    });
}

// An implicitly tagged value: the caller reads the tag and passes the length; the form
// (primitive or constructed) comes from the identifier it read.
TEST(BerDecode, ImplicitTagging)
{
    static const struct {
        const char *name;
        const char *der;
    } kRows[] = {
        {"[0] IMPLICIT GeneralizedTime, primitive", "800f32303130303330323132303030305a"},
        {"[0] IMPLICIT GeneralizedTime, constructed",
         "a080 04083230313030333032 04073132303030305a 0000"},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        TestContext ctx;
        ASSERT_EQ(0, ctx.Decode(Hex(row.der)));
        int length = 0;
        ASSERT_EQ(0, xd_match1(ctx, 0x80, &length));
        const char *text = nullptr;
        ASSERT_EQ(0, xd_charstr(ctx, &text, ASN1IMPL, ASN_ID_GeneralTime, length));
        EXPECT_THAT(text, StrEq("20100302120000Z"));
        EXPECT_EQ(Hex(row.der).size(), ctx.Position());
    }
    TestContext ctx; // [1] IMPLICIT INTEGER
    ASSERT_EQ(0, ctx.Decode(Hex("810105")));
    int length = 0;
    ASN1INT value = 0;
    ASSERT_EQ(0, xd_Tag1AndLen(ctx, &length));
    ASSERT_EQ(0, xd_integer(ctx, &value, ASN1IMPL, length));
    EXPECT_EQ(5, value);
}

// The contents loop of a generated SEQUENCE decoder over both length forms.
TEST(BerDecode, ContentsLoopDefiniteAndIndefinite)
{
    for (const char *der : {"3006 020105 0401aa", "3080 020105 0401aa 0000"}) {
        SCOPED_TRACE(der);
        TestContext ctx;
        ASSERT_EQ(0, ctx.Decode(Hex(der)));
        int length = 0;
        ASSERT_EQ(0, xd_match1(ctx, 0x10, &length));
        Asn1Ccb ccb;
        xd_ccbInit(ctx, &ccb, length);
        std::vector<ASN1TAG> tags;
        while (xd_chkend(ctx, &ccb)) {
            const ASN1OCTET *data = nullptr;
            ASN1UINT numocts = 0;
            ASSERT_EQ(0, xd_OpenType(ctx, &data, &numocts));
            tags.push_back(data[0]);
        }
        EXPECT_THAT(tags, ElementsAre(0x02, 0x04));
        EXPECT_EQ(0, xd_endcons(ctx, &ccb));
        EXPECT_EQ(Hex(der).size(), ctx.Position());
    }
}

TEST(BerDecode, EndOfContentsChecks)
{
    static const struct {
        const char *name;
        const char *der;
        int status;
    } kRows[] = {
        {"definite, contents left over", "3006 020105 0401aa", ASN_E_INVLEN},
        {"indefinite, no end-of-contents", "3080 020105 0401aa", ASN_E_ENDOFBUF},
        {"indefinite, something else follows", "3080 020105 0401aa 0500", ASN_E_INVLEN},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        TestContext ctx;
        ASSERT_EQ(0, ctx.Decode(Hex(row.der)));
        int length = 0;
        ASSERT_EQ(0, xd_match1(ctx, 0x10, &length));
        Asn1Ccb ccb;
        xd_ccbInit(ctx, &ccb, length);
        ASN1INT value = 0;
        ASSERT_EQ(0, xd_integer(ctx, &value, ASN1EXPL, 0));
        if (length == ASN_K_INDEFLEN) { // step over the octet string as well
            const ASN1OCTET *data = nullptr;
            ASN1UINT numocts = 0;
            ASSERT_EQ(0, xd_octstr(ctx, &data, &numocts, ASN1EXPL, 0));
        }
        EXPECT_EQ(row.status, xd_endcons(ctx, &ccb));
    }
}

// -3 leaves the position alone, so the next decoder sees the same identifier; either form
// of the identifier matches xd_match1.
TEST(BerDecode, MismatchConsumesNothing)
{
    TestContext ctx;
    ASSERT_EQ(0, ctx.Decode(Hex("a003 020105")));
    int length = 0;
    ASN1INT value = 0;
    EXPECT_EQ(ASN_E_IDNOTFOU, xd_match1(ctx, 0x81, &length));
    EXPECT_EQ(ASN_E_IDNOTFOU, xd_match1(ctx, 0x10, &length));
    EXPECT_EQ(ASN_E_IDNOTFOU, xd_integer(ctx, &value, ASN1EXPL, 0));
    const char *text = nullptr;
    EXPECT_EQ(ASN_E_IDNOTFOU, xd_charstr(ctx, &text, ASN1EXPL, ASN_ID_IA5String, 0));
    EXPECT_EQ(0u, ctx.Position());
    ASSERT_EQ(0, xd_match1(ctx, 0x80, &length)); // constructed A0 matches 0x80
    EXPECT_EQ(3, length);
    ASN1BOOL flag = 0;
    EXPECT_EQ(ASN_E_IDNOTFOU, xd_boolean(ctx, &flag, ASN1EXPL, 0));
    ASSERT_EQ(0, xd_integer(ctx, &value, ASN1EXPL, 0));
    ASN1OCTET byte = 0;
    EXPECT_EQ(ASN_E_ENDOFBUF, xd_peekTagByte(ctx, &byte));
    EXPECT_EQ(ASN_E_ENDOFBUF, xd_integer(ctx, &value, ASN1EXPL, 0));
    EXPECT_EQ(ASN_E_ENDOFBUF, xd_match1(ctx, 0x10, &length));
}

// The position of the identifier read last, and its form, are kept for the decoders.
TEST(BerDecode, LastIdentifierIsRemembered)
{
    TestContext ctx;
    ASSERT_EQ(0, ctx.Decode(Hex("3005 a403 020101")));
    ASN1TAG tag = 0;
    int length = 0;
    ASSERT_EQ(0, xd_tag_len(ctx, &tag, &length, XM_SEEK));
    EXPECT_EQ(0x20000010u, tag);
    EXPECT_EQ(0u, ctx.Position()); // only looked
    ASSERT_EQ(0, xd_tag_len(ctx, &tag, &length, XM_ADVANCE));
    ASSERT_EQ(0, xd_tag_len(ctx, &tag, &length, XM_ADVANCE));
    EXPECT_EQ(0xA0000004u, tag);
    EXPECT_EQ(3, length);
    EXPECT_EQ(2u, ctx->buffer.lastIdIndex);
    EXPECT_EQ(1, ctx->buffer.lastIdConstructed);
    EXPECT_EQ(4u, ctx.Position());
    xd_resetToLastId(ctx); // e.g. an unlisted CHOICE tag: put the identifier back
    EXPECT_EQ(2u, ctx.Position());
    ASN1OCTET byte = 0;
    ASSERT_EQ(0, xd_peekTagByte(ctx, &byte));
    EXPECT_EQ(0xA4, byte);
}

// Size 0: the outermost header says how far the input goes.
TEST(BerDecode, SetpTakesExtentFromHeader)
{
    static const struct {
        const char *name;
        const char *der;
        size_t extent;
        ASN1TAG tag;
        int length;
    } kRows[] = {
        {"definite", "3003 020105 ffff", 5, 0x20000010, 3},
        {"long form", "0481 80", 131, 0x04, 128},
        {"indefinite, nested", "3080 3080 020105 0000 0400 0000 ffff", 13, 0x20000010,
         ASN_K_INDEFLEN},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        Bytes der = Hex(row.der);
        der.resize(std::max(der.size(), row.extent + 2), 0xFF);
        TestContext ctx;
        ASN1TAG tag = 0;
        int length = 0;
        ASSERT_EQ(0, xd_setp(ctx, der.data(), 0, &tag, &length));
        EXPECT_EQ(row.extent, ctx->buffer.size);
        EXPECT_EQ(row.tag, tag);
        EXPECT_EQ(row.length, length);
        EXPECT_EQ(0u, ctx.Position());
    }
}

// An open type is the whole element, nested indefinite lengths included, pointing into
// the input.
TEST(BerDecode, OpenTypeTakesWholeElement)
{
    TestContext ctx;
    const Bytes der = Hex("3080 3080 020101 0000 a080 0400 0000 0000 0500 9f81480105");
    ASSERT_EQ(0, ctx.Decode(der));
    static const size_t kExtents[] = {17, 2, 5};
    size_t offset = 0;
    for (const size_t extent : kExtents) {
        SCOPED_TRACE(extent);
        const ASN1OCTET *data = nullptr;
        ASN1UINT numocts = 0;
        ASSERT_EQ(0, xd_OpenType(ctx, &data, &numocts));
        EXPECT_EQ(ctx.Input() + offset, data);
        EXPECT_EQ(extent, numocts);
        offset += extent;
    }
    EXPECT_EQ(der.size(), ctx.Position());
}

// A fixed-size field takes the value only when it fits.
TEST(BerDecode, StaticStringsCheckCapacity)
{
    static const struct {
        const char *name;
        const char *der;
        bool bits;
        ASN1UINT capacity;
        int status;
        ASN1UINT length;
        const char *value;
    } kRows[] = {
        {"octets fit exactly", "0403010203", false, 3, 0, 3, "010203"},
        {"octets one too many", "0403010203", false, 2, ASN_E_STROVFLW, 2, ""},
        {"octets, constructed", "2480 040101 040102 0000", false, 2, 0, 2, "0102"},
        {"ReasonFlags bits fit", "0303078080", true, 9, 0, 9, "8080"},
        {"sixteen bits into nine", "03030080ff", true, 9, ASN_E_STROVFLW, 9, ""},
        {"unused bits cleared", "030205ff", true, 9, 0, 3, "e0"},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        TestContext ctx;
        ASSERT_EQ(0, ctx.Decode(Hex(row.der)));
        ASN1OCTET field[3] = {0xEE, 0xEE, 0xEE};
        ASN1UINT length = row.capacity;
        const int status = row.bits ? xd_bitstr_s(ctx, field, &length, ASN1EXPL, 0)
                                    : xd_octstr_s(ctx, field, &length, ASN1EXPL, 0);
        EXPECT_EQ(row.status, status);
        EXPECT_EQ(row.length, length);
        const size_t octets = row.bits ? (length + 7) / 8 : length;
        if (status == 0)
            EXPECT_EQ(row.value, ToHex(field, octets));
        else
            EXPECT_EQ("eeeeee", ToHex(field, sizeof field)); // nothing written on failure
    }
}

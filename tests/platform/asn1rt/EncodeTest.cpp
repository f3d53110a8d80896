// DER encoders, checked against encodings made by `openssl asn1parse -genstr '<text>'
// -out x.der` (the text is given with each row) and X.690 examples.
#include "Asn1rtTestSupport.h"

#include <gmock/gmock.h>

#include <functional>

using namespace asn1rt_test;

namespace {

struct EncodeRow {
    const char *name;
    std::function<int(Asn1Context *)> encode;
    const char *der;
};

void ExpectEncodings(const std::vector<EncodeRow> &rows)
{
    for (const EncodeRow &row : rows) {
        SCOPED_TRACE(row.name);
        TestContext ctx;
        ASSERT_EQ(0, xe_setp(ctx, nullptr, 0));
        const int length = row.encode(ctx);
        EXPECT_EQ(static_cast<int>(Hex(row.der).size()), length);
        EXPECT_EQ(ToHex(Hex(row.der)), ctx.EncodedHex());
    }
}

std::function<int(Asn1Context *)> Int(ASN1INT value)
{
    return [value](Asn1Context *c) { return xe_integer(c, &value, ASN1EXPL); };
}

std::function<int(Asn1Context *)> Oid(std::vector<ASN1UINT> arcs)
{
    return [arcs](Asn1Context *c) {
        ASN1OBJID oid{static_cast<ASN1UINT>(arcs.size()), {}};
        // numids may claim more arcs than the value holds: the encoder must refuse it
        std::copy_n(arcs.begin(), std::min<size_t>(arcs.size(), ASN_K_MAXSUBIDS), oid.subid);
        return xe_objid(c, &oid, ASN1EXPL);
    };
}

std::function<int(Asn1Context *)> Bits(Bytes data, ASN1UINT numbits)
{
    return [data, numbits](Asn1Context *c) { return xe_bitstr(c, data.data(), numbits, ASN1EXPL); };
}

std::function<int(Asn1Context *)> BigInt(const char *text)
{
    return [text](Asn1Context *c) { return xe_bigint(c, text, ASN1EXPL); };
}

} // namespace

TEST(DerEncode, IntegersMatchOpenssl)
{
    const ASN1UINT maxUnsigned = 4294967295u;
    const ASN1USINT maxUint16 = 65535;
    ExpectEncodings({
        {"INTEGER:0", Int(0), "020100"},
        {"INTEGER:127", Int(127), "02017f"},
        {"INTEGER:128", Int(128), "02020080"},
        {"INTEGER:256", Int(256), "02020100"},
        {"INTEGER:-1", Int(-1), "0201ff"},
        {"INTEGER:-128", Int(-128), "020180"},
        {"INTEGER:-129", Int(-129), "0202ff7f"},
        {"INTEGER:2147483647", Int(2147483647), "02047fffffff"},
        {"INTEGER:-2147483648", Int(-2147483647 - 1), "020480000000"},
        {"INTEGER:4294967295",
         [&](Asn1Context *c) { return xe_unsigned(c, &maxUnsigned, ASN1EXPL); }, "020500ffffffff"},
        {"INTEGER:65535", [&](Asn1Context *c) { return xe_uint16(c, &maxUint16, ASN1EXPL); },
         "020300ffff"},
        {"ENUMERATED:5",
         [](Asn1Context *c) {
             const ASN1INT v = 5;
             return xe_enum(c, &v, ASN1EXPL);
         },
         "0a0105"},
        {"INTEGER:0x00FF", BigInt("0x00FF"), "020200ff"},
        {"INTEGER:0x123456789ABCDEF0", BigInt("0x123456789abcdef0"), "0208123456789abcdef0"},
        // Big-integer text is two's complement: leading sign octets that DER drops go.
        {"redundant zeros", BigInt("0x000001"), "020101"},
        {"redundant ones", BigInt("0xFFFF80"), "020180"},
        {"odd digit count", BigInt("0xabc"), "02020abc"},
        {"negative", BigInt("0x80"), "020180"},
    });
}

TEST(DerEncode, OtherPrimitivesMatchOpenssl)
{
    static const ASN1BOOL kTrue = 1, kOther = 0x42, kFalse = 0;
    static const ASN1USINT kBmp[] = {'A', 'b'};
    static const ASN1UINT kUniversal[] = {'A', 'b'};
    static const Asn116BitCharString bmp{2, kBmp};
    static const Asn132BitCharString universal{2, kUniversal};
    static const uint8_t kOctets[] = {0x01, 0x02};
    ExpectEncodings({
        {"BOOLEAN:TRUE", [](Asn1Context *c) { return xe_boolean(c, &kTrue, ASN1EXPL); }, "0101ff"},
        {"any non-zero is TRUE", [](Asn1Context *c) { return xe_boolean(c, &kOther, ASN1EXPL); },
         "0101ff"},
        {"BOOLEAN:FALSE", [](Asn1Context *c) { return xe_boolean(c, &kFalse, ASN1EXPL); },
         "010100"},
        {"NULL", [](Asn1Context *c) { return xe_null(c, ASN1EXPL); }, "0500"},
        {"OID:1.2.643.2.2.19", Oid({1, 2, 643, 2, 2, 19}), "06062a8503020213"},
        {"OID:1.2.840.113549.1.1.11", Oid({1, 2, 840, 113549, 1, 1, 11}), "06092a864886f70d01010b"},
        {"OID:2.999.3", Oid({2, 999, 3}), "0603883703"},
        {"OID:0.39", Oid({0, 39}), "060127"},
        {"OID:1.3.6.1.4.1.4294967295", Oid({1, 3, 6, 1, 4, 1, 4294967295u}),
         "060a2b060104018fffffff7f"},
        {"FORMAT:HEX,OCTETSTRING:0102",
         [](Asn1Context *c) { return xe_octstr(c, kOctets, 2, ASN1EXPL); }, "04020102"},
        {"empty OCTET STRING", [](Asn1Context *c) { return xe_octstr(c, nullptr, 0, ASN1EXPL); },
         "0400"},
        {"IA5STRING:abc",
         [](Asn1Context *c) { return xe_charstr(c, "abc", ASN1EXPL, ASN_ID_IA5String); },
         "1603616263"},
        {"PRINTABLESTRING:Test",
         [](Asn1Context *c) { return xe_charstr(c, "Test", ASN1EXPL, ASN_ID_PrintableString); },
         "130454657374"},
        {"FORMAT:UTF8,UTF8String:Привет",
         [](Asn1Context *c) { return xe_charstr(c, "Привет", ASN1EXPL, ASN_ID_UTF8String); },
         "0c0cd09fd180d0b8d0b2d0b5d182"},
        {"GENTIME:20100302120000Z",
         [](Asn1Context *c) {
             return xe_charstr(c, "20100302120000Z", ASN1EXPL, ASN_ID_GeneralTime);
         },
         "180f32303130303330323132303030305a"},
        {"BMPSTRING:Ab",
         [](Asn1Context *c) { return xe_16BitCharStr(c, &bmp, ASN1EXPL, ASN_ID_BMPString); },
         "1e0400410062"},
        {"UNIVERSALSTRING:Ab",
         [](Asn1Context *c) {
             return xe_32BitCharStr(c, &universal, ASN1EXPL, ASN_ID_UniversalString);
         },
         "1c080000004100000062"},
    });
}

// The unused bits of the last octet are written as zero, whatever the caller's octet holds.
TEST(DerEncode, BitStrings)
{
    ExpectEncodings({
        {"BITSTRING:A", Bits({0x41}, 8), "03020041"},
        {"FORMAT:BITLIST,BITSTRING:0,2", Bits({0xA0}, 3), "030205a0"},
        {"same bits, garbage after them", Bits({0xBF}, 3), "030205a0"},
        {"FORMAT:BITLIST,BITSTRING:1,8", Bits({0x40, 0xFF}, 9), "0303074080"},
        {"FORMAT:HEX,BITSTRING:80FF", Bits({0x80, 0xFF}, 16), "03030080ff"},
        {"empty", Bits({}, 0), "030100"},
        // X.690 8.6.4.2 example, primitive form: '0A3B5F291CD'H
        {"X.690 example", Bits({0x0A, 0x3B, 0x5F, 0x29, 0x1C, 0xDF}, 44), "0307040a3b5f291cd0"},
    });
}

// Implicit tagging writes only the contents; xe_tag_len puts any tag in front, with the
// high-tag-number form from 31 on.
TEST(DerEncode, TagsAndIdentifiers)
{
    auto implicitInt = [](ASN1TAG tag) {
        return [tag](Asn1Context *c) {
            const ASN1INT five = 5;
            return xe_tag_len(c, tag, xe_integer(c, &five, ASN1IMPL));
        };
    };
    ExpectEncodings({
        {"IMPLICIT:9,INTEGER:5", implicitInt(0x80000009), "890105"},
        {"EXPLICIT:9,INTEGER:5",
         [](Asn1Context *c) { return xe_tag_len(c, 0xA0000009, Int(5)(c)); }, "a903020105"},
        {"IMPLICIT:3A,INTEGER:5", implicitInt(0x40000003), "430105"},
        {"IMPLICIT:31,INTEGER:5", implicitInt(0x8000001F), "9f1f0105"},
        {"IMPLICIT:200,INTEGER:5", implicitInt(0x800000C8), "9f81480105"},
        {"IMPLICIT:16383,INTEGER:5", implicitInt(0x80003FFF), "9fff7f0105"},
        {"IMPLICIT:16384,INTEGER:5", implicitInt(0x80004000), "9f8180000105"},
        {"IMPLICIT:4P,NULL",
         [](Asn1Context *c) { return xe_tag_len(c, 0xC0000004, xe_null(c, ASN1IMPL)); }, "c400"},
        {"largest tag number", implicitInt(0x9FFFFFFF), "9f81ffffff7f0105"},
    });
}

// Header octets of OCTET STRINGs around the length-form boundaries, from
// `openssl asn1parse -genconf` with FORMAT:HEX,OCTETSTRING of each size.
TEST(DerEncode, LongLengths)
{
    static const struct {
        size_t size;
        const char *header;
    } kRows[] = {{127, "047f"},     {128, "048180"},     {255, "0481ff"},
                 {256, "04820100"}, {65535, "0482ffff"}, {65536, "0483010000"}};
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.size);
        TestContext ctx;
        ASSERT_EQ(0, xe_setp(ctx, nullptr, 0));
        const Bytes contents(row.size, 0xAB);
        const int length =
            xe_octstr(ctx, contents.data(), static_cast<ASN1UINT>(contents.size()), ASN1EXPL);
        const size_t headerSize = Hex(row.header).size();
        ASSERT_EQ(static_cast<int>(row.size + headerSize), length);
        EXPECT_EQ(row.header, ToHex(xe_getp(ctx), headerSize));
        EXPECT_EQ(ToHex(contents), ToHex(xe_getp(ctx) + headerSize, row.size));
    }
}

TEST(DerEncode, RejectsInvalidValues)
{
    TestContext ctx;
    ASSERT_EQ(0, xe_setp(ctx, nullptr, 0));
    std::vector<ASN1UINT> arcs129(129, 1);
    std::vector<ASN1UINT> arcs128(128, 1);
    const struct {
        const char *name;
        std::function<int(Asn1Context *)> encode;
        int status;
    } kRows[] = {
        {"OID of one arc", Oid({1}), ASN_E_INVOBJID},
        {"first arc 3", Oid({3, 1}), ASN_E_INVOBJID},
        {"second arc 40 under 1", Oid({1, 40}), ASN_E_INVOBJID},
        {"129 arcs", Oid(arcs129), ASN_E_INVOBJID},
        {"big integer without 0x", BigInt("1234"), ASN_E_INVHEXS},
        {"big integer without digits", BigInt("0x"), ASN_E_INVHEXS},
        {"big integer bad digit", BigInt("0x12G4"), ASN_E_INVHEXS},
        {"a status passes through xe_tag_len",
         [](Asn1Context *c) { return xe_tag_len(c, 0x80000001, ASN_E_INVOPT); }, ASN_E_INVOPT},
        {"null text",
         [](Asn1Context *c) { return xe_charstr(c, nullptr, ASN1EXPL, ASN_ID_IA5String); },
         ASN_E_INVPARAM},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.status, row.encode(ctx));
        EXPECT_EQ("", ctx.EncodedHex()); // nothing was written
    }
    EXPECT_EQ(2 + 127, Oid(arcs128)(ctx)); // 128 arcs are the most an OID may have
}

// A caller buffer: the encoding ends at the buffer's end; one octet short is an overflow,
// and nothing is written in front of the buffer.
TEST(DerEncode, CallerBuffer)
{
    const Bytes expected = Hex("3006 020105 0101ff");
    auto encode = [](Asn1Context *c) {
        const ASN1BOOL yes = 1;
        const ASN1INT five = 5;
        int total = xe_boolean(c, &yes, ASN1EXPL);
        if (total < 0) return total;
        const int length = xe_integer(c, &five, ASN1EXPL);
        return length < 0 ? length : xe_tag_len(c, 0x20000010, total + length);
    };
    for (const size_t extra : {size_t{0}, size_t{5}}) {
        SCOPED_TRACE(extra);
        TestContext ctx;
        Bytes buffer(2 + expected.size() + extra, 0xEE);
        ASSERT_EQ(0, xe_setp(ctx, buffer.data() + 2, static_cast<int>(expected.size() + extra)));
        ASSERT_EQ(static_cast<int>(expected.size()), encode(ctx));
        EXPECT_EQ(buffer.data() + buffer.size() - expected.size(), xe_getp(ctx));
        EXPECT_EQ(ToHex(expected), ctx.EncodedHex());
        EXPECT_EQ(0xEE, buffer[0]);
        EXPECT_EQ(0xEE, buffer[1]);
    }
    TestContext ctx;
    Bytes buffer(2 + expected.size() - 1, 0xEE);
    ASSERT_EQ(0, xe_setp(ctx, buffer.data() + 2, static_cast<int>(expected.size() - 1)));
    EXPECT_EQ(ASN_E_BUFOVFLW, encode(ctx));
    EXPECT_EQ(0xEE, buffer[0]);
    EXPECT_EQ(0xEE, buffer[1]);
}

// A runtime buffer grows many times over and keeps what was written, in order.
TEST(DerEncode, GrowingBufferKeepsEncoding)
{
    TestContext ctx;
    ASSERT_EQ(0, xe_setp(ctx, nullptr, 0));
    const int count = 30000;
    int total = 0;
    for (int i = count - 1; i >= 0; i--)
        total += xe_integer(ctx, &i, ASN1EXPL);
    ASSERT_EQ(0, xe_setp(ctx, nullptr, 0));
    EXPECT_EQ(0u, ctx->ebuf.size - ctx->ebuf.byteIndex); // a new encoding starts empty
    for (int i = count - 1; i >= 0; i--)
        total -= xe_integer(ctx, &i, ASN1EXPL);
    EXPECT_EQ(0, total);
    ASSERT_EQ(0, xd_setp(ctx, xe_getp(ctx), static_cast<int>(ctx->ebuf.size - ctx->ebuf.byteIndex),
                         nullptr, nullptr));
    for (int i = 0; i < count; i++) {
        ASN1INT value = -1;
        ASSERT_EQ(0, xd_integer(ctx, &value, ASN1EXPL, 0));
        ASSERT_EQ(i, value);
    }
}

namespace {

// Encodes elements last to first as a SET OF encoder does, recording each, then sorts.
int EncodeSetOf(Asn1Context *c, const std::vector<std::function<int(Asn1Context *)>> &elements)
{
    SList list;
    rtSListInitEx(c, &list);
    for (auto it = elements.rbegin(); it != elements.rend(); ++it) {
        const int length = (*it)(c);
        if (length < 0) return length;
        auto *descr = static_cast<Asn1BufLocDescr *>(ASN1MALLOC(c, sizeof(Asn1BufLocDescr)));
        if (!descr || xe_getBufLocDescr(c, static_cast<ASN1UINT>(length), descr) != 0 ||
            !rtSListAppend(&list, descr))
            return ASN_E_NOMEM;
    }
    return xe_tag_len(c, 0x20000011, xe_derCanonicalSort(c, &list));
}

std::function<int(Asn1Context *)> Raw(const char *hex)
{
    return [hex](Asn1Context *c) {
        const Bytes octets = Hex(hex);
        return xe_OpenType(c, octets.data(), static_cast<ASN1UINT>(octets.size()));
    };
}

} // namespace

// The SET below is what `openssl asn1parse -genconf` makes of a SET section holding
// OCTETSTRING:ab, INTEGER:5, OCTETSTRING:a, INTEGER:-1, FORMAT:HEX,OCTETSTRING:0000,
// FORMAT:HEX,OCTETSTRING:00 and BOOLEAN:TRUE: openssl sorts the DER SET OF itself.
TEST(DerEncode, SetOfSortedLikeOpenssl)
{
    const char *kSorted = "3117 0101ff 020105 0201ff 040100 040161 04020000 04026162";
    TestContext ctx;
    ASSERT_EQ(0, xe_setp(ctx, nullptr, 0));
    const int trailing = Int(77)(ctx); // written first, so it follows the SET and stays put
    const int length = EncodeSetOf(ctx, {Raw("04026162"), Int(5), Raw("040161"), Int(-1),
                                         Raw("04020000"), Raw("040100"), Raw("0101ff")});
    ASSERT_EQ(static_cast<int>(Hex(kSorted).size()), length);
    EXPECT_EQ(ToHex(Hex(kSorted)) + "02014d", ctx.EncodedHex());
    EXPECT_EQ(3, trailing);
}

// X.690 11.6 compares encodings padded with zero octets: "01" and "0100" are equal and keep
// their order, "010001" is greater than both.
TEST(DerEncode, SetOfPadsShorterWithZeros)
{
    static const struct {
        const char *name;
        std::vector<const char *> elements;
        const char *sorted;
    } kRows[] = {
        {"already sorted", {"00ff", "01", "0100", "010001"}, "00ff01 0100 010001"},
        {"reversed", {"010001", "0100", "01", "00ff"}, "00ff 0100 01 010001"},
        {"single", {"05"}, "05"},
        {"empty", {}, ""},
        {"empty element first", {"", "05"}, "05"},
        {"empty element between", {"05", "", "03"}, "0305"},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        TestContext ctx;
        ASSERT_EQ(0, xe_setp(ctx, nullptr, 0));
        std::vector<std::function<int(Asn1Context *)>> elements;
        for (const char *hex : row.elements)
            elements.push_back(Raw(hex));
        const int length = EncodeSetOf(ctx, elements);
        EXPECT_EQ(ToHex(Hex("31")) + ToHex(Bytes{static_cast<uint8_t>(Hex(row.sorted).size())}) +
                      ToHex(Hex(row.sorted)),
                  ctx.EncodedHex());
        EXPECT_EQ(static_cast<int>(2 + Hex(row.sorted).size()), length);
    }
}

TEST(DerEncode, SetOfRejectsDescriptorsThatDoNotTile)
{
    TestContext ctx;
    ASSERT_EQ(0, xe_setp(ctx, nullptr, 0));
    Asn1BufLocDescr first{}, second{};
    ASSERT_EQ(3, Int(1)(ctx));
    ASSERT_EQ(0, xe_getBufLocDescr(ctx, 3, &first));
    ASSERT_EQ(3, Int(2)(ctx));
    ASSERT_EQ(0, xe_getBufLocDescr(ctx, 2, &second)); // one octet short
    SList list;
    rtSListInitEx(ctx, &list);
    rtSListAppend(&list, &first);
    rtSListAppend(&list, &second);
    EXPECT_EQ(ASN_E_INVPARAM, xe_derCanonicalSort(ctx, &list));
    EXPECT_EQ("020102020101", ctx.EncodedHex()); // left as it was
}

// Stored encodings go out unchanged and in list order.
TEST(DerEncode, OpenTypeList)
{
    TestContext ctx;
    ASSERT_EQ(0, xe_setp(ctx, nullptr, 0));
    const Bytes first = Hex("0500"), second = Hex("020107");
    ASN1OpenType elements[] = {{2, first.data()}, {3, second.data()}};
    DList list;
    rtDListInit(&list);
    rtDListAppend(ctx, &list, &elements[0]);
    rtDListAppend(ctx, &list, &elements[1]);
    EXPECT_EQ(5, xe_OpenTypeExt(ctx, &list));
    EXPECT_EQ("0500020107", ctx.EncodedHex());
    EXPECT_EQ(0, xe_OpenTypeExt(ctx, nullptr));
}

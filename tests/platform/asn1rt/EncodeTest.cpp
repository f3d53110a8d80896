// DER encoders beyond single values (tests/data/asn1rt/encode.txt holds those): length forms,
// caller and growing buffers, SET OF sorting and open types.
#include "Asn1rtTestSupport.h"

#include <gmock/gmock.h>

#include <functional>

using namespace asn1rt_test;

namespace {

std::function<int(Asn1Context *)> Int(ASN1INT value)
{
    return [value](Asn1Context *c) { return xe_integer(c, &value, ASN1EXPL); };
}

} // namespace

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

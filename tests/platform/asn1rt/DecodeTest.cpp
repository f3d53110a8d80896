// Decoders on well-formed input beyond single values (tests/data/asn1rt/decode.txt holds
// those): the buffer bookkeeping generated decoders rely on, and the nesting guard.
#include "Asn1rtTestSupport.h"

#include <gmock/gmock.h>

using namespace asn1rt_test;
using ::testing::ElementsAre;
using ::testing::StrEq;

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

namespace {

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

int DecodeOctets(Asn1Context *c)
{
    const ASN1OCTET *data = nullptr;
    ASN1UINT numocts = 0;
    return xd_octstr(c, &data, &numocts, ASN1EXPL, 0);
}

} // namespace

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

// Every DER file under tests/data was made by openssl. Each is taken apart element by
// element with the decoders (universal types through their own decoder, in implicit form
// after xd_tag_len) and written again with the encoders: the result must be the same octets.
#include "Asn1rtTestSupport.h"

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace asn1rt_test;

namespace {

struct Element {
    ASN1TAG tag = 0;
    std::vector<Element> children;
    // Primitive contents in their decoded form; which one is used depends on the tag.
    const char *text = nullptr;
    const ASN1OCTET *octets = nullptr;
    ASN1UINT count = 0;
    ASN1OBJID oid{};
    ASN1INT number = 0;
    ASN1BOOL flag = 0;
    Asn116BitCharString bmp{};
    Asn132BitCharString universal{};
};

bool IsCharacterString(ASN1TAG number)
{
    return number == 12 || (number >= 18 && number <= 20) || (number >= 22 && number <= 24) ||
           number == 26;
}

int DecodePrimitive(Asn1Context *c, Element *e, int length)
{
    const ASN1TAG number = e->tag & TM_IDCODE;
    if ((e->tag & TM_CLASS) != TM_UNIV) // unknown type behind a context tag: its octets
        return xd_octstr(c, &e->octets, &e->count, ASN1IMPL, length);
    switch (number) {
    case ASN_ID_BOOL:
        return xd_boolean(c, &e->flag, ASN1IMPL, length);
    case ASN_ID_INT:
        return xd_bigint(c, &e->text, ASN1IMPL, length);
    case ASN_ID_BITSTR:
        return xd_bitstr(c, &e->octets, &e->count, ASN1IMPL, length);
    case ASN_ID_OCTSTR:
        return xd_octstr(c, &e->octets, &e->count, ASN1IMPL, length);
    case ASN_ID_NULL:
        return length == 0 ? xd_null(c, ASN1IMPL) : ASN_E_INVLEN;
    case ASN_ID_OBJID:
        return xd_objid(c, &e->oid, ASN1IMPL, length);
    case ASN_ID_ENUM:
        return xd_enum(c, &e->number, ASN1IMPL, length);
    case ASN_ID_BMPString:
        return xd_16BitCharStr(c, &e->bmp, ASN1IMPL, number, length);
    case ASN_ID_UniversalString:
        return xd_32BitCharStr(c, &e->universal, ASN1IMPL, number, length);
    default:
        if (IsCharacterString(number)) return xd_charstr(c, &e->text, ASN1IMPL, number, length);
        return xd_octstr(c, &e->octets, &e->count, ASN1IMPL, length);
    }
}

int DecodeElement(Asn1Context *c, Element *e)
{
    int length = 0;
    if (const int status = xd_tag_len(c, &e->tag, &length, XM_ADVANCE)) return status;
    if (!(e->tag & TM_CONS)) return DecodePrimitive(c, e, length);
    Asn1Ccb ccb;
    xd_ccbInit(c, &ccb, length);
    while (xd_chkend(c, &ccb)) {
        e->children.emplace_back();
        if (const int status = DecodeElement(c, &e->children.back())) return status;
    }
    return xd_endcons(c, &ccb);
}

int EncodeContents(Asn1Context *c, const Element &e)
{
    const ASN1TAG number = e.tag & TM_IDCODE;
    if ((e.tag & TM_CLASS) != TM_UNIV) return xe_octstr(c, e.octets, e.count, ASN1IMPL);
    switch (number) {
    case ASN_ID_BOOL:
        return xe_boolean(c, &e.flag, ASN1IMPL);
    case ASN_ID_INT:
        return xe_bigint(c, e.text, ASN1IMPL);
    case ASN_ID_BITSTR:
        return xe_bitstr(c, e.octets, e.count, ASN1IMPL);
    case ASN_ID_NULL:
        return xe_null(c, ASN1IMPL);
    case ASN_ID_OBJID:
        return xe_objid(c, &e.oid, ASN1IMPL);
    case ASN_ID_ENUM:
        return xe_enum(c, &e.number, ASN1IMPL);
    case ASN_ID_BMPString:
        return xe_16BitCharStr(c, &e.bmp, ASN1IMPL, number);
    case ASN_ID_UniversalString:
        return xe_32BitCharStr(c, &e.universal, ASN1IMPL, number);
    default:
        if (IsCharacterString(number)) return xe_charstr(c, e.text, ASN1IMPL, number);
        return xe_octstr(c, e.octets, e.count, ASN1IMPL);
    }
}

int EncodeElement(Asn1Context *c, const Element &e)
{
    if (!(e.tag & TM_CONS)) return xe_tag_len(c, e.tag, EncodeContents(c, e));
    int total = 0;
    for (auto child = e.children.rbegin(); child != e.children.rend(); ++child) {
        const int length = EncodeElement(c, *child);
        if (length < 0) return length;
        total += length;
    }
    return xe_tag_len(c, e.tag, total);
}

Bytes ReadFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

TEST(DerRoundTrip, OpensslFilesComeOutUnchanged)
{
    size_t files = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(KV_TEST_DATA_DIR)) {
        if (entry.path().extension() != ".der") continue;
        SCOPED_TRACE(entry.path().string());
        const Bytes der = ReadFile(entry.path());
        TestContext ctx;
        ASSERT_EQ(0, ctx.Decode(der));
        Element root;
        ASSERT_EQ(0, DecodeElement(ctx, &root));
        EXPECT_EQ(der.size(), ctx.Position());
        ASSERT_EQ(0, xe_setp(ctx, nullptr, 0));
        EXPECT_EQ(static_cast<int>(der.size()), EncodeElement(ctx, root));
        EXPECT_EQ(ToHex(der), ctx.EncodedHex());
        files++;
    }
    EXPECT_LE(20u, files) << "the openssl vectors under tests/data were not found";
}

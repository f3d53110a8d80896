// The in-memory forms the structure codecs build and read directly.
#include <bit>
#include <cstring>

#include "Asn1TestSupport.h"

using namespace asn1test;

// Presence flags: the first flagged component owns the most significant bit.
TEST(ValueForm, PresenceBitsHaveTheirWordValues)
{
    ESSCertIDv2 cert{};
    cert.m.hashAlgorithmPresent = 1;
    EXPECT_EQ(0x80000000u, std::bit_cast<ASN1UINT>(cert.m));
    ESSCertIDv2 other{};
    other.m.issuerSerialPresent = 1;
    EXPECT_EQ(0x40000000u, std::bit_cast<ASN1UINT>(other.m));

    DistributionPoint point{};
    point.m.cRLIssuerPresent = 1;
    EXPECT_EQ(0x20000000u, std::bit_cast<ASN1UINT>(point.m));

    BuiltInStandardAttributes attrs{};
    attrs.m.organizational_unit_namesPresent = 1;
    EXPECT_EQ(0x00800000u, std::bit_cast<ASN1UINT>(attrs.m));

    AlgorithmIdentifier alg{};
    alg.m.parametersPresent = 1;
    EXPECT_EQ(0x80000000u, std::bit_cast<ASN1UINT>(alg.m));
}

// A CHOICE with `t` outside its alternatives writes nothing and fails with -11.
TEST(ValueForm, ChoiceOutsideItsAlternatives)
{
    struct Row {
        const char *name;
        int (*encode)(Context &);
    };
    const Row rows[] = {
        {"GeneralName t 0",
         [](Context &c) {
             GeneralName v{};
             return c.Encode(asn1E_GeneralName, &v).status;
         }},
        {"GeneralName t 10",
         [](Context &c) {
             GeneralName v{10, {}};
             return c.Encode(asn1E_GeneralName, &v).status;
         }},
        {"Name t 2",
         [](Context &c) {
             Name v{2, {}};
             return c.Encode(asn1E_Name, &v).status;
         }},
        {"OtherHash t 3",
         [](Context &c) {
             OtherHash v{3, {}};
             return c.Encode(asn1E_OtherHash, &v).status;
         }},
        {"DistributionPointName t 0",
         [](Context &c) {
             DistributionPointName v{};
             return c.Encode(asn1E_DistributionPointName, &v).status;
         }},
        {"CountryName t 3",
         [](Context &c) {
             CountryName v{3, {}};
             return c.Encode(asn1E_CountryName, &v).status;
         }},
        {"PrivateDomainName t 0",
         [](Context &c) {
             PrivateDomainName v{};
             return c.Encode(asn1E_PrivateDomainName, &v).status;
         }},
        {"directory string t 6",
         [](Context &c) {
             EDIPartyName_partyName v{6, {}};
             return c.Encode(asn1E_EDIPartyName_partyName, &v).status;
         }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Context ctx;
        EXPECT_EQ(ASN_E_INVOPT, row.encode(ctx));
        EXPECT_EQ(ASN_E_INVOPT, ctx.ErrorStatus());
        EXPECT_EQ(ctx.get()->ebuf.size, ctx.get()->ebuf.byteIndex); // nothing written
    }
}

// A list built by appending and one a decoder made walk alike in both directions.
TEST(ValueForm, ListsWalkBothWays)
{
    Context ctx;
    GeneralNames built{};
    const char *const texts[] = {"a.example", "b.example", "c.example"};
    for (const char *text : texts) {
        auto *name = ctx.Append<GeneralName>(&built);
        name->t = 3;
        name->u.dNSName = text;
    }
    const Encoded der = ctx.Encode(asn1E_GeneralNames, &built);
    GeneralNames decoded{};
    ASSERT_EQ(0, ctx.Decode(asn1D_GeneralNames, der.der, &decoded));
    for (const GeneralNames *list : {&built, &decoded}) {
        ASSERT_EQ(3u, list->count);
        int i = 0;
        for (const DListNode *n = list->head; n; n = n->next, ++i)
            EXPECT_STREQ(texts[i], static_cast<const GeneralName *>(n->data)->u.dNSName);
        EXPECT_EQ(3, i);
        for (const DListNode *n = list->tail; n; n = n->prev)
            EXPECT_STREQ(texts[--i], static_cast<const GeneralName *>(n->data)->u.dNSName);
        EXPECT_EQ(nullptr, list->head->prev);
        EXPECT_EQ(nullptr, list->tail->next);
    }
}

// 128 arcs is the limit of an OID value: that many go through, one more is refused.
TEST(ValueForm, OidOf128Arcs)
{
    Context ctx;
    CertPolicyId longest{};
    longest.numids = ASN_K_MAXSUBIDS;
    longest.subid[0] = 1;
    longest.subid[1] = 2;
    for (ASN1UINT i = 2; i < ASN_K_MAXSUBIDS; ++i)
        longest.subid[i] = i;
    const Encoded der = ctx.Encode(asn1E_CertPolicyId, &longest);
    ASSERT_LT(0, der.status);
    CertPolicyId back{};
    ASSERT_EQ(0, ctx.Decode(asn1D_CertPolicyId, der.der, &back));
    EXPECT_EQ(0, std::memcmp(&longest, &back, sizeof back));

    Bytes tooLong(130, 0x01); // 1.2 and 127 arcs of 1: 129 arcs
    tooLong[0] = 0x06;
    tooLong[1] = 128;
    tooLong[2] = 0x2A;
    EXPECT_GT(0, ctx.Decode(asn1D_CertPolicyId, tooLong, &back));
}

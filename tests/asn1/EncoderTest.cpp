// DER encoders: extension elements and the constraint checks with their error parameters.
#include <cstring>
#include <functional>
#include <string>

#include "Asn1TestSupport.h"

using namespace asn1test;

TEST(Encoder, ExtensionElementsFollowTheRoot)
{
    Context ctx;
    Gost28147_89_BlobParameters blob{};
    blob.encryptionParamSet = Oid({1, 2, 643, 2, 2, 31, 1});
    rtDListInit(&blob.extElem1);
    EXPECT_EQ("30 09 06 07 2A 85 03 02 02 1F 01",
              ToHex(ctx.Encode(asn1E_Gost28147_89_BlobParameters, &blob).der));
    static const unsigned char kNull[] = {0x05, 0x00}, kInt[] = {0x02, 0x01, 0x01};
    *ctx.Append<ASN1OpenType>(&blob.extElem1) = {sizeof kNull, kNull};
    *ctx.Append<ASN1OpenType>(&blob.extElem1) = {sizeof kInt, kInt};
    EXPECT_EQ("30 0E 06 07 2A 85 03 02 02 1F 01 05 00 02 01 01",
              ToHex(ctx.Encode(asn1E_Gost28147_89_BlobParameters, &blob).der));
}

// One row: a T filled in by `set` (the value is `v`), encoded by asn1E_T.
// clang-format off
#define KV_CONSVIO(name, T, set, field, number) \
    {name, [](Context &c) { T v{}; set; return c.Encode(asn1E_##T, &v).status; }, {field, number}}
// clang-format on

// Every constraint the encoders check: -23, the field's text and the offending number.
TEST(Encoder, ConstraintViolations)
{
    struct Row {
        const char *name;
        std::function<int(Context &)> encode;
        std::vector<std::string> parameters;
    };
    static const std::string s41(41, 'S'), g17(17, 'G'), u32769(32769, 'U');
    // clang-format off
    const Row rows[] = {
        KV_CONSVIO("empty RDN inside a Name", Name, v.t = 1; v.u.rdnSequence = c.New<RDNSequence>();
                   c.Append<RelativeDistinguishedName>(v.u.rdnSequence), "pvalue->count", "0"),
        KV_CONSVIO("Gost28147_89_Key of 48", Gost28147_89_Key,
                   v.numocts = 48, "pvalue->numocts", "48"),
        KV_CONSVIO("Gost28147_89_Key of 0", Gost28147_89_Key, , "pvalue->numocts", "0"),
        KV_CONSVIO("GostR3410_PublicKey of 96", GostR3410_PublicKey,
                   v.numocts = 96, "pvalue->numocts", "96"),
        KV_CONSVIO("Gost28147_89_IV of 7", Gost28147_89_IV, v.numocts = 7, "pvalue->numocts", "7"),
        KV_CONSVIO("Gost28147_89_MAC of 5", Gost28147_89_MAC,
                   v.numocts = 5, "pvalue->numocts", "5"),
        KV_CONSVIO("EncryptedKey with a 3-octet MAC", Gost28147_89_EncryptedKey,
                   v.encryptedKey.numocts = 32; v.macKey.numocts = 3, "pvalue->macKey.numocts",
                   "3"),
        KV_CONSVIO("ukm of 9", Gost28147_89_KeyWrapParameters,
                   v.m.ukmPresent = 1; v.ukm.numocts = 9,
                   "pvalue->numocts", "9"),
        KV_CONSVIO("empty CRLDistPointsSyntax", CRLDistPointsSyntax, , "pvalue->count", "0"),
        KV_CONSVIO("empty policyQualifiers", PolicyInformation, v.m.policyQualifiersPresent = 1,
                   "pvalue->count", "0"),
        KV_CONSVIO("surname of 41", PersonalName, v.surname = s41.c_str(), "pvalue->surname", "41"),
        KV_CONSVIO("given name of 17", PersonalName, v.surname = "S"; v.given_name = g17.c_str();
                   v.m.given_namePresent = 1, "pvalue->given_name", "17"),
        KV_CONSVIO("initials of 6", PersonalName, v.surname = "S"; v.initials = "IIIIII";
                   v.m.initialsPresent = 1, "pvalue->initials", "6"),
        KV_CONSVIO("generation qualifier of 4", PersonalName,
                   v.surname = "S"; v.generation_qualifier = "QQQQ";
                   v.m.generation_qualifierPresent = 1, "pvalue->generation_qualifier", "4"),
        KV_CONSVIO("numeric country code of 2", CountryName, v.t = 1; v.u.x121_dcc_code = "64",
                   "pvalue->u.x121_dcc_code", "2"),
        KV_CONSVIO("alpha-2 country code of 3", CountryName,
                   v.t = 2; v.u.iso_3166_alpha2_code = "RUS",
                   "pvalue->u.iso_3166_alpha2_code", "3"),
        KV_CONSVIO("administration domain of 17", AdministrationDomainName, v.t = 2;
                   v.u.printable = "AAAAAAAAAAAAAAAAA", "pvalue->u.printable", "17"),
        KV_CONSVIO("empty private domain", PrivateDomainName,
                   v.t = 1; v.u.numeric = "", "pvalue->u.numeric", "0"),
        KV_CONSVIO("no organizational units", OrganizationalUnitNames, , "pvalue->n", "0"),
        KV_CONSVIO("five organizational units", OrganizationalUnitNames, v.n = 5, "pvalue->n", "5"),
        KV_CONSVIO("domain-defined type of 9", BuiltInDomainDefinedAttribute, v.type = "TYPE00009";
                   v.value = "v", "pvalue->type", "9"),
        KV_CONSVIO("empty domain-defined value", BuiltInDomainDefinedAttribute,
                   v.type = "T"; v.value = "",
                   "pvalue->value", "0"),
        KV_CONSVIO("extension attribute type 257", ExtensionAttribute,
                   v.extension_attribute_type = 257,
                   "pvalue->extension_attribute_type", "257"),
        KV_CONSVIO("no extension attributes", ExtensionAttributes, , "pvalue->count", "0"),
        KV_CONSVIO("empty UTF8String party name", EDIPartyName_partyName,
                   v.t = 1; v.u.utf8String = "",
                   "pvalue->u.utf8String", "0"),
        KV_CONSVIO("printable party name of 32769", EDIPartyName_partyName, v.t = 2;
                   v.u.printableString = u32769.c_str(), "pvalue->u.printableString", "32769"),
        KV_CONSVIO("empty BMPString assigner", EDIPartyName_nameAssigner, v.t = 5,
                   "pvalue->u.bmpString.nchars", "0"),
        KV_CONSVIO("empty UniversalString assigner", EDIPartyName_nameAssigner, v.t = 4,
                   "pvalue->u.universalString.nchars", "0"),
        KV_CONSVIO("IV of 2^31 octets", Gost28147_89_IV, v.numocts = 0x80000000u, "pvalue->numocts",
                   "2147483648"),
    };
    // clang-format on
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Context ctx;
        EXPECT_EQ(ASN_E_CONSVIO, row.encode(ctx));
        EXPECT_EQ(ASN_E_CONSVIO, ctx.ErrorStatus());
        EXPECT_EQ(row.parameters, ctx.ErrorParameters());
    }
}

// UTF8String length counts characters: 32768 two-octet characters are within the bound.
TEST(Encoder, Utf8BoundCountsCharacters)
{
    Context ctx;
    std::string text;
    for (int i = 0; i < 32768; ++i)
        text += "\xD0\x96";
    EDIPartyName_partyName party{1, {}};
    party.u.utf8String = text.c_str();
    EXPECT_EQ(65536 + 5 + 5, ctx.Encode(asn1E_EDIPartyName_partyName, &party).status);
}

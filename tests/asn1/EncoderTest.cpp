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

// Every constraint the encoders check: -23, the field's text and the offending number.
TEST(Encoder, ConstraintViolations)
{
    struct Row {
        const char *name;
        std::function<int(Context &)> encode;
        std::vector<std::string> parameters;
    };
    auto rdnName = [](Context &c) {
        Name name{1, {}};
        name.u.rdnSequence = c.New<RDNSequence>();
        c.Append<RelativeDistinguishedName>(name.u.rdnSequence); // one empty RDN
        return c.Encode(asn1E_Name, &name).status;
    };
    auto key = [](ASN1UINT n) {
        return [n](Context &c) {
            Gost28147_89_Key v{};
            v.numocts = n;
            return c.Encode(asn1E_Gost28147_89_Key, &v).status;
        };
    };
    auto personal = [](const char *surname, const char *given, const char *initials,
                       const char *gq) {
        return [=](Context &c) {
            PersonalName v{};
            v.surname = surname;
            v.given_name = given;
            v.initials = initials;
            v.generation_qualifier = gq;
            v.m.given_namePresent = v.m.initialsPresent = v.m.generation_qualifierPresent = 1;
            return c.Encode(asn1E_PersonalName, &v).status;
        };
    };
    const std::string s41(41, 'S'), g17(17, 'G'), u32769(32769, 'U');
    const Row rows[] = {
        {"empty RDN inside a Name", rdnName, {"pvalue->count", "0"}},
        {"Gost28147_89_Key of 48", key(48), {"pvalue->numocts", "48"}},
        {"Gost28147_89_Key of 0", key(0), {"pvalue->numocts", "0"}},
        {"GostR3410_PublicKey of 96",
         [](Context &c) {
             GostR3410_PublicKey v{};
             v.numocts = 96;
             return c.Encode(asn1E_GostR3410_PublicKey, &v).status;
         },
         {"pvalue->numocts", "96"}},
        {"Gost28147_89_IV of 7",
         [](Context &c) {
             Gost28147_89_IV v{};
             v.numocts = 7;
             return c.Encode(asn1E_Gost28147_89_IV, &v).status;
         },
         {"pvalue->numocts", "7"}},
        {"Gost28147_89_MAC of 5",
         [](Context &c) {
             Gost28147_89_MAC v{};
             v.numocts = 5;
             return c.Encode(asn1E_Gost28147_89_MAC, &v).status;
         },
         {"pvalue->numocts", "5"}},
        {"EncryptedKey with a 3-octet MAC",
         [](Context &c) {
             Gost28147_89_EncryptedKey v{};
             v.encryptedKey.numocts = 32;
             v.macKey.numocts = 3;
             return c.Encode(asn1E_Gost28147_89_EncryptedKey, &v).status;
         },
         {"pvalue->macKey.numocts", "3"}},
        {"ukm of 9",
         [](Context &c) {
             Gost28147_89_KeyWrapParameters v{};
             v.m.ukmPresent = 1;
             v.ukm.numocts = 9;
             return c.Encode(asn1E_Gost28147_89_KeyWrapParameters, &v).status;
         },
         {"pvalue->numocts", "9"}},
        {"empty CRLDistPointsSyntax",
         [](Context &c) {
             CRLDistPointsSyntax v{};
             return c.Encode(asn1E_CRLDistPointsSyntax, &v).status;
         },
         {"pvalue->count", "0"}},
        {"empty policyQualifiers",
         [](Context &c) {
             PolicyInformation v{};
             v.m.policyQualifiersPresent = 1;
             return c.Encode(asn1E_PolicyInformation, &v).status;
         },
         {"pvalue->count", "0"}},
        {"surname of 41", personal(s41.c_str(), "G", "I", "Q"), {"pvalue->surname", "41"}},
        {"given name of 17", personal("S", g17.c_str(), "I", "Q"), {"pvalue->given_name", "17"}},
        {"initials of 6", personal("S", "G", "IIIIII", "Q"), {"pvalue->initials", "6"}},
        {"generation qualifier of 4",
         personal("S", "G", "I", "QQQQ"),
         {"pvalue->generation_qualifier", "4"}},
        {"numeric country code of 2",
         [](Context &c) {
             CountryName v{1, {}};
             v.u.x121_dcc_code = "64";
             return c.Encode(asn1E_CountryName, &v).status;
         },
         {"pvalue->u.x121_dcc_code", "2"}},
        {"alpha-2 country code of 3",
         [](Context &c) {
             CountryName v{2, {}};
             v.u.iso_3166_alpha2_code = "RUS";
             return c.Encode(asn1E_CountryName, &v).status;
         },
         {"pvalue->u.iso_3166_alpha2_code", "3"}},
        {"administration domain of 17",
         [](Context &c) {
             AdministrationDomainName v{2, {}};
             v.u.printable = "AAAAAAAAAAAAAAAAA";
             return c.Encode(asn1E_AdministrationDomainName, &v).status;
         },
         {"pvalue->u.printable", "17"}},
        {"empty private domain",
         [](Context &c) {
             PrivateDomainName v{1, {}};
             v.u.numeric = "";
             return c.Encode(asn1E_PrivateDomainName, &v).status;
         },
         {"pvalue->u.numeric", "0"}},
        {"no organizational units",
         [](Context &c) {
             OrganizationalUnitNames v{};
             return c.Encode(asn1E_OrganizationalUnitNames, &v).status;
         },
         {"pvalue->n", "0"}},
        {"five organizational units",
         [](Context &c) {
             OrganizationalUnitNames v{};
             v.n = 5;
             return c.Encode(asn1E_OrganizationalUnitNames, &v).status;
         },
         {"pvalue->n", "5"}},
        {"domain-defined type of 9",
         [](Context &c) {
             BuiltInDomainDefinedAttribute v{"TYPE00009", "v"};
             return c.Encode(asn1E_BuiltInDomainDefinedAttribute, &v).status;
         },
         {"pvalue->type", "9"}},
        {"empty domain-defined value",
         [](Context &c) {
             BuiltInDomainDefinedAttribute v{"T", ""};
             return c.Encode(asn1E_BuiltInDomainDefinedAttribute, &v).status;
         },
         {"pvalue->value", "0"}},
        {"extension attribute type 257",
         [](Context &c) {
             ExtensionAttribute v{};
             v.extension_attribute_type = 257;
             return c.Encode(asn1E_ExtensionAttribute, &v).status;
         },
         {"pvalue->extension_attribute_type", "257"}},
        {"no extension attributes",
         [](Context &c) {
             ExtensionAttributes v{};
             return c.Encode(asn1E_ExtensionAttributes, &v).status;
         },
         {"pvalue->count", "0"}},
        {"empty UTF8String party name",
         [](Context &c) {
             EDIPartyName_partyName v{1, {}};
             v.u.utf8String = "";
             return c.Encode(asn1E_EDIPartyName_partyName, &v).status;
         },
         {"pvalue->u.utf8String", "0"}},
        {"printable party name of 32769",
         [&u32769](Context &c) {
             EDIPartyName_partyName v{2, {}};
             v.u.printableString = u32769.c_str();
             return c.Encode(asn1E_EDIPartyName_partyName, &v).status;
         },
         {"pvalue->u.printableString", "32769"}},
        {"empty BMPString assigner",
         [](Context &c) {
             EDIPartyName_nameAssigner v{5, {}};
             return c.Encode(asn1E_EDIPartyName_nameAssigner, &v).status;
         },
         {"pvalue->u.bmpString.nchars", "0"}},
        {"empty UniversalString assigner",
         [](Context &c) {
             EDIPartyName_nameAssigner v{4, {}};
             return c.Encode(asn1E_EDIPartyName_nameAssigner, &v).status;
         },
         {"pvalue->u.universalString.nchars", "0"}},
        {"IV of 2^31 octets",
         [](Context &c) {
             Gost28147_89_IV v{};
             v.numocts = 0x80000000u;
             return c.Encode(asn1E_Gost28147_89_IV, &v).status;
         },
         {"pvalue->numocts", "2147483648"}},
    };
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

// BER/DER decoders: absent components, components too many or missing, CHOICE tags, SET
// components in any order, indefinite lengths, explicit tags and constraints.
#include <bit>
#include <cstring>

#include "Asn1TestSupport.h"

using namespace asn1test;

TEST(Decoder, StatusesOfMalformedStructures)
{
    struct Row {
        const char *name;
        const char *hex;
        int (*decode)(Context &, const Bytes &);
        int status;
    };
    auto essv2 = [](Context &c, const Bytes &der) {
        ESSCertIDv2 v{};
        return c.Decode(asn1D_ESSCertIDv2, der, &v);
    };
    auto tp = [](Context &c, const Bytes &der) {
        GostR3410_TransportParameters v{};
        return c.Decode(asn1D_GostR3410_TransportParameters, der, &v);
    };
    auto dp = [](Context &c, const Bytes &der) {
        DistributionPoint v{};
        return c.Decode(asn1D_DistributionPoint, der, &v);
    };
    auto pk = [](Context &c, const Bytes &der) {
        GostR3410_2001_PublicKeyParameters v{};
        return c.Decode(asn1D_GostR3410_2001_PublicKeyParameters, der, &v);
    };
    auto ek = [](Context &c, const Bytes &der) {
        Gost28147_89_EncryptedKey v{};
        return c.Decode(asn1D_Gost28147_89_EncryptedKey, der, &v);
    };
    auto ou = [](Context &c, const Bytes &der) {
        OrganizationalUnitNames v{};
        return c.Decode(asn1D_OrganizationalUnitNames, der, &v);
    };
    auto other = [](Context &c, const Bytes &der) {
        GeneralName_otherName v{};
        return c.Decode(asn1D_GeneralName_otherName, der, &v);
    };
    std::string kKey48 = "30 38 04 30 ";
    for (int i = 0; i < 48; ++i)
        kKey48 += "00 ";
    kKey48 += "04 04 01 02 03 04";
    const Row rows[] = {
        {"ESSCertIDv2 with an element after issuerSerial",
         "30 0F 04 00 30 09 30 04 A4 02 30 00 02 01 01 05 00", essv2, ASN_E_SEQOVFLW},
        {"ESSCertIDv2 without certHash", "30 07 30 05 06 03 2B 0E 03", essv2, ASN_E_SETMISRQ},
        {"ESSCertIDv2 whose algorithm identifier is broken inside", "30 07 30 03 04 01 00 04 00",
         essv2, ASN_E_IDNOTFOU},
        {"TransportParameters without ukm", "30 04 06 02 2A 03", tp, ASN_E_SETMISRQ},
        {"TransportParameters with ukm of 7", "30 0D 06 02 2A 03 04 07 01 02 03 04 05 06 07", tp,
         ASN_E_CONSVIO},
        {"explicit [0] holding two elements", "30 0B A0 09 A0 05 86 03 61 62 63 05 00", dp,
         ASN_E_SEQOVFLW},
        {"explicit [0] left empty", "30 02 A0 00", dp, ASN_E_SETMISRQ},
        {"DistributionPoint components out of order",
         "30 0D 81 02 05 60 A0 07 A0 05 86 03 61 62 63", dp, ASN_E_SEQOVFLW},
        {"public-key parameters without digestParamSet", "30 09 06 07 2A 85 03 02 02 23 01", pk,
         ASN_E_SETMISRQ},
        {"EncryptedKey with a key of 48 octets", kKey48.c_str(), ek, ASN_E_CONSVIO},
        {"five organizational units", "30 0F 13 01 41 13 01 42 13 01 43 13 01 44 13 01 45", ou,
         ASN_E_SEQOVFLW},
        {"no organizational unit", "30 00", ou, ASN_E_CONSVIO},
        {"otherName without its value", "30 05 06 03 2A 03 04", other, ASN_E_SETMISRQ},
        {"otherName value not under [0]", "30 09 06 03 2A 03 04 0C 02 68 69", other,
         ASN_E_SETMISRQ},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Context ctx;
        EXPECT_EQ(row.status, row.decode(ctx, FromHex(row.hex)));
        EXPECT_EQ(row.status, ctx.ErrorStatus());
    }
}

TEST(Decoder, UnlistedChoiceTagIsNamed)
{
    Context ctx;
    GeneralName name{};
    EXPECT_EQ(ASN_E_INVOPT, ctx.Decode(asn1D_GeneralName, FromHex("89 01 00"), &name));
    EXPECT_EQ(std::vector<std::string>{"[CONTEXT 9]"}, ctx.ErrorParameters());
    EXPECT_EQ(0u, name.t);

    OtherHash hash{};
    EXPECT_EQ(ASN_E_INVOPT, ctx.Decode(asn1D_OtherHash, FromHex("05 00"), &hash));
    DistributionPointName dpn{};
    EXPECT_EQ(ASN_E_INVOPT, ctx.Decode(asn1D_DistributionPointName, FromHex("A2 00"), &dpn));
    EDIPartyName_partyName party{};
    EXPECT_EQ(ASN_E_INVOPT,
              ctx.Decode(asn1D_EDIPartyName_partyName, FromHex("A1 03 16 01 41"), &party));
}

// PersonalName is a SET: any order in, definition order out.
TEST(Decoder, SetComponentsInAnyOrder)
{
    EXPECT_EQ("31 0C 80 01 53 81 01 47 82 01 49 83 01 4A",
              ToHex(Reencode(asn1D_PersonalName, asn1E_PersonalName,
                             FromHex("31 0C 83 01 4A 81 01 47 80 01 53 82 01 49"))));
    struct Row {
        const char *name;
        const char *hex;
        int status;
        std::vector<std::string> parameters;
    };
    const Row rows[] = {
        {"surname twice", "31 06 80 01 53 80 01 54", ASN_E_SETDUPL, {}},
        {"initials twice", "31 09 80 01 53 82 01 49 82 01 49", ASN_E_SETDUPL, {}},
        {"a component [4]", "31 06 80 01 53 84 01 58", ASN_E_NOTINSET, {"[CONTEXT 4]"}},
        {"no surname", "31 03 81 01 47", ASN_E_SETMISRQ, {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Context ctx;
        PersonalName value{};
        EXPECT_EQ(row.status, ctx.Decode(asn1D_PersonalName, FromHex(row.hex), &value));
        EXPECT_EQ(row.parameters, ctx.ErrorParameters());
    }
}

TEST(Decoder, EmptyRelativeDistinguishedName)
{
    Context ctx;
    Name name{};
    EXPECT_EQ(ASN_E_CONSVIO, ctx.Decode(asn1D_Name, FromHex("30 02 31 00"), &name));
    EXPECT_EQ((std::vector<std::string>{"pvalue->count", "0"}), ctx.ErrorParameters());
}

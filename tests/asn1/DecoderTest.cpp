// BER/DER decoders: what they refuse (tests/data/asn1/refused.txt: components too many,
// missing or out of order, CHOICE tags outside the alternatives, SET components twice or
// foreign, constraints) and SET components in any order.
#include "Asn1Vectors.h"

#include "common/FileTest.h"

#include <map>

using namespace asn1test;

TEST(Decoder, RefusedEncodings)
{
    static const std::map<std::string, int> kStatuses = {
        {"ASN_E_IDNOTFOU", ASN_E_IDNOTFOU}, {"ASN_E_INVOPT", ASN_E_INVOPT},
        {"ASN_E_SETMISRQ", ASN_E_SETMISRQ}, {"ASN_E_SEQOVFLW", ASN_E_SEQOVFLW},
        {"ASN_E_CONSVIO", ASN_E_CONSVIO},   {"ASN_E_SETDUPL", ASN_E_SETDUPL},
        {"ASN_E_NOTINSET", ASN_E_NOTINSET}};
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("asn1/refused.txt")) {
        SCOPED_TRACE(c.where);
        const std::string &der = c.Get("DER");
        std::vector<std::string> parameters;
        const int status =
            DecodeAs(c.Get("Type"), der.starts_with("@") ? ReadVector(der.substr(1)) : FromHex(der),
                     &parameters);
        ASSERT_EQ(1u, kStatuses.count(c.Get("Status")));
        EXPECT_EQ(kStatuses.at(c.Get("Status")), status);
        if (!c.Has("Parameters")) continue;
        const std::string &text = c.Get("Parameters");
        const auto expected =
            text.empty() ? std::vector<std::string>{} : kvtest::Split(text, " | ");
        EXPECT_EQ(expected, parameters);
    }
}

// PersonalName is a SET: any order in, definition order out.
TEST(Decoder, SetComponentsInAnyOrder)
{
    EXPECT_EQ("31 0C 80 01 53 81 01 47 82 01 49 83 01 4A",
              ToHex(Reencode(asn1D_PersonalName, asn1E_PersonalName,
                             FromHex("31 0C 83 01 4A 81 01 47 80 01 53 82 01 49"))));
}

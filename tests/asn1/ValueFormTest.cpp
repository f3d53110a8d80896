// The in-memory forms the structure codecs build and read directly.
#include <bit>
#include <cstring>

#include "Asn1TestSupport.h"

using namespace asn1test;

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
             Name v{2, {}, {}};
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

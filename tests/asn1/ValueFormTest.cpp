// The in-memory forms the structure codecs build and read directly.
#include <bit>
#include <cstring>

#include "Asn1TestSupport.h"

using namespace asn1test;

namespace {

template <typename T, Encoder<T> E> int EncodeChoice(Context &ctx, ASN1UINT t)
{
    T value{};
    value.t = t;
    return ctx.Encode(E, &value).status;
}

} // namespace

// A CHOICE with `t` outside its alternatives writes nothing and fails with -11.
TEST(ValueForm, ChoiceOutsideItsAlternatives)
{
    const struct {
        const char *name;
        int (*encode)(Context &, ASN1UINT);
        ASN1UINT t;
    } rows[] = {
        {"GeneralName", EncodeChoice<GeneralName, asn1E_GeneralName>, 0},
        {"GeneralName", EncodeChoice<GeneralName, asn1E_GeneralName>, 10},
        {"Name", EncodeChoice<Name, asn1E_Name>, 2},
        {"OtherHash", EncodeChoice<OtherHash, asn1E_OtherHash>, 3},
        {"DistributionPointName", EncodeChoice<DistributionPointName, asn1E_DistributionPointName>,
         0},
        {"CountryName", EncodeChoice<CountryName, asn1E_CountryName>, 3},
        {"PrivateDomainName", EncodeChoice<PrivateDomainName, asn1E_PrivateDomainName>, 0},
        {"directory string", EncodeChoice<EDIPartyName_partyName, asn1E_EDIPartyName_partyName>, 6},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.name) + " t " + std::to_string(row.t));
        Context ctx;
        EXPECT_EQ(ASN_E_INVOPT, row.encode(ctx, row.t));
        EXPECT_EQ(ASN_E_INVOPT, ctx.ErrorStatus());
        EXPECT_EQ(ctx.get()->ebuf.size, ctx.get()->ebuf.byteIndex); // nothing written
    }
}

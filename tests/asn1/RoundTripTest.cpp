// Every type: encodings decode and encode again to the same octets; values built in code
// come back from their encoding field by field.
#include <cstring>
#include <set>

#include "Asn1Vectors.h"

using namespace asn1test;

TEST(RoundTrip, HandWrittenEncodingsComeBackUnchanged)
{
    for (const Vector &v : HandWrittenVectors()) {
        SCOPED_TRACE(v.name);
        if (v.reencode)
            EXPECT_EQ(ToHex(v.expected.empty() ? v.der : v.expected), ToHex(v.reencode(v.der)));
        else
            EXPECT_EQ(0, v.decodeThenEncode(v.der));
    }
}

TEST(RoundTrip, SigningCertificateV2BuiltInCode)
{
    Context ctx;
    SigningCertificateV2 sent{};
    static const unsigned char kHash[] = {1, 2, 3};
    auto *first = ctx.Append<ESSCertIDv2>(&sent.certs);
    first->certHash = {sizeof kHash, kHash};
    auto *second = ctx.Append<ESSCertIDv2>(&sent.certs);
    second->m.hashAlgorithmPresent = 1;
    second->hashAlgorithm.algorithm = Oid({1, 3, 14, 3, 2, 26});
    second->certHash = {1, kHash};
    second->m.issuerSerialPresent = 1;
    auto *issuer = ctx.Append<GeneralName>(&second->issuerSerial.issuer);
    issuer->t = 5;
    issuer->u.directoryName = ctx.New<Name>();
    issuer->u.directoryName->t = 1;
    issuer->u.directoryName->u.rdnSequence = ctx.New<RDNSequence>();
    second->issuerSerial.serialNumber = "0x00ff";
    sent.m.policiesPresent = 1;
    ctx.Append<PolicyInformation>(&sent.policies)->policyIdentifier = Oid({1, 2, 3});

    const Encoded der = ctx.Encode(asn1E_SigningCertificateV2, &sent);
    ASSERT_LT(0, der.status);
    SigningCertificateV2 got{};
    ASSERT_EQ(0, ctx.Decode(asn1D_SigningCertificateV2, der.der, &got));

    ASSERT_EQ(2u, got.certs.count);
    const auto *gotFirst = static_cast<const ESSCertIDv2 *>(got.certs.head->data);
    EXPECT_FALSE(gotFirst->m.hashAlgorithmPresent);
    EXPECT_FALSE(gotFirst->m.issuerSerialPresent);
    EXPECT_EQ(3u, gotFirst->certHash.numocts);
    const auto *gotSecond = static_cast<const ESSCertIDv2 *>(got.certs.tail->data);
    EXPECT_TRUE(gotSecond->m.hashAlgorithmPresent);
    EXPECT_EQ(6u, gotSecond->hashAlgorithm.algorithm.numids);
    ASSERT_TRUE(gotSecond->m.issuerSerialPresent);
    EXPECT_STREQ("0x00ff", gotSecond->issuerSerial.serialNumber);
    ASSERT_EQ(1u, gotSecond->issuerSerial.issuer.count);
    EXPECT_EQ(5u, static_cast<const GeneralName *>(gotSecond->issuerSerial.issuer.head->data)->t);
    ASSERT_TRUE(got.m.policiesPresent);
    EXPECT_EQ(1u, got.policies.count);
}

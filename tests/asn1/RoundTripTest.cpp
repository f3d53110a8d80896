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
            EXPECT_EQ(ToHex(v.der), ToHex(v.reencode(v.der)));
        else
            EXPECT_EQ(0, v.decodeThenEncode(v.der));
    }
}

// 72 types, of which Gost28147_89_BlobParameters is only encoded (EncoderTest).
TEST(RoundTrip, EveryDecodedTypeHasVectors)
{
    std::set<std::string> types;
    for (const Vector &v : HandWrittenVectors())
        types.insert(v.name.substr(0, v.name.find(':')));
    EXPECT_EQ(71u, types.size());
}

TEST(RoundTrip, GostKeyTransportBuiltInCode)
{
    Context ctx;
    GostR3410_KeyTransport sent{};
    sent.sessionEncryptedKey.encryptedKey.numocts = 32;
    std::memset(sent.sessionEncryptedKey.encryptedKey.data, 0xA1, 32);
    sent.sessionEncryptedKey.macKey.numocts = 4;
    std::memcpy(sent.sessionEncryptedKey.macKey.data, "\x01\x02\x03\x04", 4);
    sent.m.transportParametersPresent = 1;
    GostR3410_TransportParameters &tp = sent.transportParameters;
    tp.encryptionParamSet = Oid({1, 2, 643, 7, 1, 2, 5, 1, 1});
    tp.m.ephemeralPublicKeyPresent = 1;
    tp.ephemeralPublicKey.algorithm.algorithm = Oid({1, 2, 643, 7, 1, 1, 1, 1});
    static const unsigned char kKeyBits[] = {0x04, 0x40, 0x11, 0x22};
    tp.ephemeralPublicKey.subjectPublicKey = {8 * sizeof kKeyBits, kKeyBits};
    tp.ukm.numocts = 8;
    std::memcpy(tp.ukm.data, "UKM-8-OC", 8);

    const Encoded der = ctx.Encode(asn1E_GostR3410_KeyTransport, &sent);
    ASSERT_LT(0, der.status);
    GostR3410_KeyTransport got{};
    ASSERT_EQ(0, ctx.Decode(asn1D_GostR3410_KeyTransport, der.der, &got));

    EXPECT_EQ(0, std::memcmp(&sent.sessionEncryptedKey.encryptedKey,
                             &got.sessionEncryptedKey.encryptedKey, sizeof(Gost28147_89_Key)));
    EXPECT_FALSE(got.sessionEncryptedKey.m.maskKeyPresent);
    EXPECT_EQ(0, std::memcmp(got.sessionEncryptedKey.macKey.data, "\x01\x02\x03\x04", 4));
    ASSERT_TRUE(got.m.transportParametersPresent);
    EXPECT_EQ(9u, got.transportParameters.encryptionParamSet.numids);
    EXPECT_EQ(5u, got.transportParameters.encryptionParamSet.subid[6]);
    ASSERT_TRUE(got.transportParameters.m.ephemeralPublicKeyPresent);
    EXPECT_EQ(32u, got.transportParameters.ephemeralPublicKey.subjectPublicKey.numbits);
    EXPECT_FALSE(got.transportParameters.ephemeralPublicKey.algorithm.m.parametersPresent);
    EXPECT_EQ(0, std::memcmp(got.transportParameters.ukm.data, "UKM-8-OC", 8));
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

TEST(RoundTrip, TextTypesBuiltInCode)
{
    Context ctx;
    IssuerSignTool tool{"\xD0\xA1\xD0\x9A\xD0\x97\xD0\x98", "CA tool", "cert 1", "cert 2"};
    const Encoded der = ctx.Encode(asn1E_IssuerSignTool, &tool);
    ASSERT_LT(0, der.status);
    IssuerSignTool got{};
    ASSERT_EQ(0, ctx.Decode(asn1D_IssuerSignTool, der.der, &got));
    EXPECT_STREQ(tool.signTool, got.signTool);
    EXPECT_STREQ("CA tool", got.cATool);
    EXPECT_STREQ("cert 1", got.signToolCert);
    EXPECT_STREQ("cert 2", got.cAToolCert);

    PrivateKeyUsagePeriod period{};
    period.m.notBeforePresent = 1;
    period.notBefore = "20100230120000Z"; // written as given: repairs are the codec's
    const Encoded periodDer = ctx.Encode(asn1E_PrivateKeyUsagePeriod, &period);
    EXPECT_EQ("30 11 80 0F 32 30 31 30 30 32 33 30 31 32 30 30 30 30 5A", ToHex(periodDer.der));
    PrivateKeyUsagePeriod gotPeriod{};
    ASSERT_EQ(0, ctx.Decode(asn1D_PrivateKeyUsagePeriod, periodDer.der, &gotPeriod));
    EXPECT_TRUE(gotPeriod.m.notBeforePresent);
    EXPECT_FALSE(gotPeriod.m.notAfterPresent);
    EXPECT_STREQ("20100230120000Z", gotPeriod.notBefore);
}

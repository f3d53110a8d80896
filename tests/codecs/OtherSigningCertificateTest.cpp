// OtherSigningCertificate through its entry points: the bare SHA-1 form, the identified
// hash form, and an attribute written by `openssl asn1parse -genconf`.
#include "codecs/EssHelpers.h"

#include "SigningCertificateTesting.h"

using namespace esstest;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

const kvtest::CodecEntryPoints kCodec = {
    OrvaDllOtherSigningCertificateEncodeEx, OrvaDllOtherSigningCertificateEncode,
    OrvaDllOtherSigningCertificateDecodeEx, OrvaDllOtherSigningCertificateDecode};

using Info = KVCMSG_OTHER_SIGNING_CERTIFICATE;
using CertId = KVCMSG_OTHER_CERT_ID;

char kSha1[] = "1.3.14.3.2.26";
char kEcdsaWithSha1[] = "1.2.840.10045.4.1";
char kSha256[] = "2.16.840.1.101.3.4.2.1";

// SHA-1("abc") and SHA-256("abc"), FIPS 180-2 appendix A.1 and B.1.
const Bytes kHash20 = Hex("A9993E364706816ABA3E25717850C26C9CD0D89D");
const Bytes kHash32 = Hex("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
const Bytes kBareSha1 = Concat(Hex("30 1A 30 18 30 16 04 14"), kHash20);
const Bytes kSha256Der =
    Concat(Hex("30 35 30 33 30 31 30 2F 30 0B 06 09 60 86 48 01 65 03 04 02 01 04 20"), kHash32);

Info InfoOf(std::vector<CertId> &certs)
{
    return {static_cast<DWORD>(certs.size()), certs.empty() ? nullptr : certs.data(), 0, nullptr};
}

TEST(OtherSigningCertificate, HashFormFollowsTheAlgorithm)
{
    Bytes hash20 = kHash20, hash32 = kHash32, nullParameters = Hex("05 00");
    struct Row {
        const char *name;
        CertId certId;
        Bytes der;
    } rows[] = {
        {"sha1", {{kSha1, {}}, BlobOf(hash20), {}}, kBareSha1},
        {"ecdsaWithSha1", {{kEcdsaWithSha1, {}}, BlobOf(hash20), {}}, kBareSha1},
        {"sha1ParametersDropped", {{kSha1, BlobOf(nullParameters)}, BlobOf(hash20), {}}, kBareSha1},
        {"sha256", {{kSha256, {}}, BlobOf(hash32), {}}, kSha256Der},
        {"sha256WithNull",
         {{kSha256, BlobOf(nullParameters)}, BlobOf(hash32), {}},
         Seq(Seq(Seq(
             Seq(Concat(Seq(Hex("06 09 60 86 48 01 65 03 04 02 01 05 00")), Der(0x04, hash32))))))},
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<CertId> certs = {row.certId};
        const Info info = InfoOf(certs);
        EXPECT_EQ(row.der, kvtest::EncodeEveryWay(kCodec, &info));
    }
}

// tests/data/ess/other-mixed.der: the intermediate's bare SHA-1 hash with its issuer and
// serial, then the TSA's SHA-256 hash under an identifier with NULL parameters.
TEST(OtherSigningCertificate, GenconfAttributeDecodesToWhatOpenSslReportsAndEncodesBack)
{
    const Bytes der = EssFile("other-mixed.der");
    const auto result = DecodeChecked<Info>(kCodec, der);
    ASSERT_TRUE(result);
    const Info &info = As<Info>(result);
    ASSERT_EQ(2u, info.cCerts);
    std::vector<CertExpectation> expected = {{Hex(Expected("inter.sha1")),
                                              EssFile("inter-issuer.der"),
                                              SerialAsHostBlob(Expected("inter.serial"))},
                                             {Hex(Expected("tsa.sha256")), {}, {}}};
    ExpectCertId(expected[0], info.rgCerts[0]);
    EXPECT_STREQ(kSha1, info.rgCerts[0].HashAlgorithm.pszObjId);
    ExpectCertId(expected[1], info.rgCerts[1]);
    EXPECT_STREQ(kSha256, info.rgCerts[1].HashAlgorithm.pszObjId);
    EXPECT_EQ(Hex("05 00"), BlobBytes(info.rgCerts[1].HashAlgorithm.Parameters));
    EXPECT_EQ(der, kvtest::EncodeEveryWay(kCodec, &info));

    // The same from a caller structure built of openssl's values.
    Bytes nullParameters = Hex("05 00");
    std::vector<CertId> certs = {{{kSha1, {}},
                                  BlobOf(expected[0].hash),
                                  {BlobOf(expected[0].issuer), BlobOf(expected[0].serial)}},
                                 {{kSha256, BlobOf(nullParameters)}, BlobOf(expected[1].hash), {}}};
    const Info given = InfoOf(certs);
    EXPECT_EQ(der, kvtest::EncodeEveryWay(kCodec, &given));
}

TEST(OtherSigningCertificate, MalformedCallerStructuresAreRefused)
{
    Bytes hash = kHash20;
    const char *const kMalformed = "Malformed KVCMSG_OTHER_SIGNING_CERTIFICATE";
    struct Row {
        const char *name;
        CertId certId;
        DWORD error;
        const char *message;
    } rows[] = {
        // clang-format off
        {"noHashAlgorithm", {{nullptr, {}}, BlobOf(hash), {}}, ERROR_INVALID_PARAMETER, kMalformed},
        {"hashLengthWithoutBytes", {{kSha1, {}}, {20, nullptr}, {}}, ERROR_INVALID_PARAMETER,
         kMalformed},
        {"parameterLengthWithoutBytes", {{kSha256, {2, nullptr}}, BlobOf(hash), {}},
         ERROR_INVALID_PARAMETER, "Malformed CRYPT_ALGORITHM_IDENTIFIER"},
        // clang-format on
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<CertId> certs = {row.certId};
        const Info info = InfoOf(certs);
        ExpectEncodeFailure(kCodec, &info, row.error, row.message);
    }
    const Info policiesOnly = {0, nullptr, 2, nullptr};
    ExpectEncodeFailure(kCodec, &policiesOnly, ERROR_INVALID_PARAMETER, kMalformed);
}

// No decoder produces a hash choice other than the two alternatives; a value built by hand
// shows both decode callbacks refusing it.
TEST(OtherSigningCertificate, UnknownHashChoiceIsRefusedByBothDecodeSteps)
{
    Asn1Context ctx;
    ASSERT_TRUE(InitializeAsn1cContext(&ctx));
    OtherSigningCertificate value{};
    auto *certId = static_cast<OtherCertID *>(rtDListNewNodeAndData(&ctx, sizeof(OtherCertID)));
    ASSERT_NE(nullptr, certId);
    certId->otherCertHash.t = 3;
    rtDListAppendNode(&ctx, &value.certs, certId);

    DWORD cb = 0;
    SetLastError(0);
    EXPECT_FALSE(OtherSigningCertificate_GetBufferSize(&ctx, &value, &cb));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());

    alignas(Info) BYTE buffer[sizeof(Info) + sizeof(CertId)];
    SetLastError(0);
    EXPECT_FALSE(OtherSigningCertificate_FillBuffer(&ctx, &value, buffer, sizeof buffer));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
    EXPECT_THAT(kvtest::TraceLines(), ElementsAre(HasSubstr("Malformed OtherCertID"),
                                                  HasSubstr("Malformed OtherCertID")));
    rtFreeContext(&ctx);
}

} // namespace

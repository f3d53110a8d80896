// SigningCertificateV2 (RFC 5035) through its entry points: the SHA-256 default, explicit
// hash algorithms, and the attributes `openssl ts` writes with SHA-256 and SHA-512.
#include "SigningCertificateTesting.h"

using namespace esstest;

namespace {

const kvtest::CodecEntryPoints kCodec = {
    OrvaDllSigningCertificateV2EncodeEx, OrvaDllSigningCertificateV2Encode,
    OrvaDllSigningCertificateV2DecodeEx, OrvaDllSigningCertificateV2Decode};

using Info = KVCMSG_SIGNING_CERTIFICATEV2;
using CertId = KVCMSG_ESS_CERT_ID_V2;

char kSha1[] = "1.3.14.3.2.26";
char kSha256[] = "2.16.840.1.101.3.4.2.1";
char kSha512[] = "2.16.840.1.101.3.4.2.3";

// SHA-256("abc") and SHA-1("abc"), FIPS 180-2 appendix B.1 and A.1.
const Bytes kHash32 = Hex("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
const Bytes kHash20 = Hex("A9993E364706816ABA3E25717850C26C9CD0D89D");

Info InfoOf(std::vector<CertId> &certs)
{
    return {static_cast<DWORD>(certs.size()), certs.empty() ? nullptr : certs.data(), 0, nullptr};
}

struct TsVector {
    const char *file;
    const char *digest;
    LPSTR pszHashOid;
    bool chain;
};
const TsVector kTsVectors[] = {
    {"scv2-sha256-signer.der", "sha256", kSha256, false},
    {"scv2-sha256-chain.der", "sha256", kSha256, true},
    {"scv2-sha512-signer.der", "sha512", kSha512, false},
    {"scv2-sha512-chain.der", "sha512", kSha512, true},
};

TEST(SigningCertificateV2, OpenSslAttributesDecodeToWhatOpenSslReportsAndEncodeBack)
{
    for (const TsVector &vector : kTsVectors) {
        SCOPED_TRACE(vector.file);
        const Bytes der = EssFile(vector.file);
        const auto result = DecodeChecked<Info>(kCodec, der);
        ASSERT_TRUE(result);
        const Info &info = As<Info>(result);
        const auto expected = ExpectedCerts(vector.digest, vector.chain);
        ASSERT_EQ(expected.size(), info.cCerts);
        for (DWORD i = 0; i < info.cCerts; ++i) {
            ExpectCertId(expected[i], info.rgCerts[i]);
            EXPECT_STREQ(vector.pszHashOid, info.rgCerts[i].HashAlgorithm.pszObjId);
            EXPECT_EQ(0u, info.rgCerts[i].HashAlgorithm.Parameters.cbData);
        }
        EXPECT_EQ(nullptr, info.rgPolicies);
        EXPECT_EQ(der, kvtest::EncodeEveryWay(kCodec, &info)) << "decoded result re-encodes";
    }
}

TEST(SigningCertificateV2, CallerStructureFromOpenSslValuesEncodesToOpenSslBytes)
{
    for (const TsVector &vector : kTsVectors) {
        SCOPED_TRACE(vector.file);
        auto expected = ExpectedCerts(vector.digest, vector.chain);
        auto certs = CallerCertIds<CertId>(expected, vector.pszHashOid);
        const Info info = InfoOf(certs);
        EXPECT_EQ(EssFile(vector.file), kvtest::EncodeEveryWay(kCodec, &info));
    }
}

TEST(SigningCertificateV2, HashAlgorithmIsWrittenUnlessItIsTheSha256Default)
{
    Bytes hash32 = kHash32, hash20 = kHash20, nullParameters = Hex("05 00");
    struct Row {
        const char *name;
        CertId certId;
        Bytes der;
    } rows[] = {
        {"sha256",
         {{kSha256, {}}, BlobOf(hash32), {}},
         Concat(Hex("30 26 30 24 30 22 04 20"), hash32)},
        {"sha256ParametersIgnored",
         {{kSha256, BlobOf(nullParameters)}, BlobOf(hash32), {}},
         Concat(Hex("30 26 30 24 30 22 04 20"), hash32)},
        {"sha1",
         {{kSha1, {}}, BlobOf(hash20), {}},
         Concat(Hex("30 23 30 21 30 1F 30 07 06 05 2B 0E 03 02 1A 04 14"), hash20)},
        {"sha1WithNull",
         {{kSha1, BlobOf(nullParameters)}, BlobOf(hash20), {}},
         Seq(Seq(Seq(Concat(Seq(Hex("06 05 2B 0E 03 02 1A 05 00")), Der(0x04, hash20)))))},
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<CertId> certs = {row.certId};
        const Info info = InfoOf(certs);
        EXPECT_EQ(row.der, kvtest::EncodeEveryWay(kCodec, &info));
    }
}

TEST(SigningCertificateV2, MalformedCallerStructuresAreRefused)
{
    Bytes hash = kHash32, name = EssFile("root-issuer.der");
    char notAnOid[] = "sha-1";
    char sha256LeadingZero[] = "2.16.840.1.101.3.4.2.01";
    const char *const kMalformed = "Malformed KVCMSG_SIGNING_CERTIFICATEV2";
    struct Row {
        const char *name;
        CertId certId;
        DWORD error;
        const char *message;
    } rows[] = {
        // clang-format off
        {"noHashAlgorithm", {{nullptr, {}}, BlobOf(hash), {}}, ERROR_INVALID_PARAMETER, kMalformed},
        {"hashLengthWithoutBytes", {{kSha256, {}}, {32, nullptr}, {}}, ERROR_INVALID_PARAMETER,
         kMalformed},
        {"parameterLengthWithoutBytes", {{kSha1, {2, nullptr}}, BlobOf(hash), {}},
         ERROR_INVALID_PARAMETER, "Malformed CRYPT_ALGORITHM_IDENTIFIER"},
        {"algorithmNotDotted", {{notAnOid, {}}, BlobOf(hash), {}}, CRYPT_E_ASN1_ERROR,
         "rtStrToOid() failed"},
        // Only the default's exact text is the default; this one goes to the OID
        // conversion, which refuses the leading zero.
        {"sha256WrittenAnotherWay", {{sha256LeadingZero, {}}, BlobOf(hash), {}}, CRYPT_E_ASN1_ERROR,
         "rtStrToOid() failed"},
        {"issuerWithoutSerial", {{kSha256, {}}, BlobOf(hash), {BlobOf(name), {}}},
         ERROR_INVALID_PARAMETER, "Invalid IssuerSerial"},
        // clang-format on
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<CertId> certs = {row.certId};
        const Info info = InfoOf(certs);
        ExpectEncodeFailure(kCodec, &info, row.error, row.message);
    }
    const Info countOnly = {1, nullptr, 0, nullptr};
    ExpectEncodeFailure(kCodec, &countOnly, ERROR_INVALID_PARAMETER, kMalformed);
}

} // namespace

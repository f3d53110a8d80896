// SigningCertificate (RFC 2634) through its entry points, checked against attributes that
// `openssl ts` wrote, and the shared ESS helpers (issuer and serial, policies) through it.
#include "codecs/EssHelpers.h"

#include "SigningCertificateTesting.h"

#include <functional>

using namespace esstest;
using testing::AllOf;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

const kvtest::CodecEntryPoints kCodec = {
    OrvaDllSigningCertificateEncodeEx, OrvaDllSigningCertificateEncode,
    OrvaDllSigningCertificateDecodeEx, OrvaDllSigningCertificateDecode};

using Info = KVCMSG_SIGNING_CERTIFICATE;

const Bytes kHash20 = Hex("A9993E364706816ABA3E25717850C26C9CD0D89D"); // SHA-1("abc")

Info InfoOf(std::vector<KVCMSG_ESS_CERT_ID> &certs, std::vector<CERT_POLICY_INFO> &policies)
{
    return {static_cast<DWORD>(certs.size()), certs.empty() ? nullptr : certs.data(),
            static_cast<DWORD>(policies.size()), policies.empty() ? nullptr : policies.data()};
}

// The ESS attributes of `openssl ts -reply` with ess_cert_id_alg sha1 (tests/data/ess/README).
struct TsVector {
    const char *file;
    bool chain;
};
constexpr TsVector kTsVectors[] = {{"sc-sha1-signer.der", false}, {"sc-sha1-chain.der", true}};

TEST(SigningCertificate, OpenSslAttributesDecodeToWhatOpenSslReportsAndEncodeBack)
{
    for (const TsVector &vector : kTsVectors) {
        SCOPED_TRACE(vector.file);
        const Bytes der = EssFile(vector.file);
        const auto result = DecodeChecked<Info>(kCodec, der);
        ASSERT_TRUE(result);
        const Info &info = As<Info>(result);
        const auto expected = ExpectedCerts("sha1", vector.chain);
        ASSERT_EQ(expected.size(), info.cCerts);
        for (DWORD i = 0; i < info.cCerts; ++i)
            ExpectCertId(expected[i], info.rgCerts[i]);
        EXPECT_EQ(0u, info.cPolicies);
        EXPECT_EQ(nullptr, info.rgPolicies);
        EXPECT_EQ(der, kvtest::EncodeEveryWay(kCodec, &info)) << "decoded result re-encodes";
    }
}

TEST(SigningCertificate, CallerStructureFromOpenSslValuesEncodesToOpenSslBytes)
{
    for (const TsVector &vector : kTsVectors) {
        SCOPED_TRACE(vector.file);
        auto expected = ExpectedCerts("sha1", vector.chain);
        auto certs = CallerCertIds<KVCMSG_ESS_CERT_ID>(expected, nullptr);
        std::vector<CERT_POLICY_INFO> noPolicies;
        const Info info = InfoOf(certs, noPolicies);
        EXPECT_EQ(EssFile(vector.file), kvtest::EncodeEveryWay(kCodec, &info));
    }
}

TEST(SigningCertificate, KnownEncodings)
{
    Bytes hash = kHash20;
    Bytes serial = {0x01};
    struct Row {
        const char *name;
        std::vector<KVCMSG_ESS_CERT_ID> certs;
        Bytes der;
    } rows[] = {
        {"noCertsNoPolicies", {}, Hex("30 02 30 00")},
        {"oneHash", {{BlobOf(hash), {}}}, Concat(Hex("30 1A 30 18 30 16 04 14"), hash)},
        // An element without an issuer has no issuerSerial, whatever its serial holds.
        {"serialWithoutIssuer",
         {{BlobOf(hash), {{0, nullptr}, BlobOf(serial)}}},
         Concat(Hex("30 1A 30 18 30 16 04 14"), hash)},
        {"emptyHash", {{{0, nullptr}, {}}}, Hex("30 06 30 04 30 02 04 00")},
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<CERT_POLICY_INFO> noPolicies;
        const Info info = InfoOf(row.certs, noPolicies);
        EXPECT_EQ(row.der, kvtest::EncodeEveryWay(kCodec, &info));
    }
}

TEST(SigningCertificate, DecodedLayoutIsStructureThenElementThenHash)
{
    DWORD cb = 0;
    auto result = DecodeChecked<Info>(kCodec, Concat(Hex("30 1A 30 18 30 16 04 14"), kHash20), &cb);
    ASSERT_TRUE(result);
    const Info &info = As<Info>(result);
    EXPECT_EQ(sizeof(Info) + sizeof(KVCMSG_ESS_CERT_ID) + kHash20.size(), cb);
    ASSERT_EQ(1u, info.cCerts);
    EXPECT_EQ(static_cast<const void *>(&info + 1), info.rgCerts);
    EXPECT_EQ(static_cast<const void *>(info.rgCerts + 1), info.rgCerts[0].CertHash.pbData);
    EXPECT_EQ(kHash20, BlobBytes(info.rgCerts[0].CertHash));
    EXPECT_EQ(nullptr, info.rgPolicies);

    result = DecodeChecked<Info>(kCodec, Hex("30 02 30 00"), &cb);
    ASSERT_TRUE(result);
    EXPECT_EQ(sizeof(Info), cb);
    EXPECT_EQ(0u, As<Info>(result).cCerts);
    EXPECT_EQ(nullptr, As<Info>(result).rgCerts);
}

// tests/data/ess/sc-policies.der, written by `openssl asn1parse -genconf`.
struct PolicyVector {
    Bytes cps = Der(0x16, Hex("687474703A2F2F706B692E6578616D706C652E746573742F637073"));
    Bytes notice = Seq(Der(0x0C, Hex("546573742075736520 6F6E6C79")));
    Bytes hash = kHash20;
    CERT_POLICY_QUALIFIER_INFO qualifiers[3] = {
        {const_cast<LPSTR>("1.3.6.1.5.5.7.2.1"), BlobOf(cps)},
        {const_cast<LPSTR>("1.3.6.1.5.5.7.2.2"), BlobOf(notice)},
        {const_cast<LPSTR>("1.2.3.4.5"), {0, nullptr}}};
    std::vector<CERT_POLICY_INFO> policies = {
        {const_cast<LPSTR>("1.2.643.100.113.1"), 3, qualifiers},
        {const_cast<LPSTR>("2.5.29.32.0"), 0, nullptr}};
    std::vector<KVCMSG_ESS_CERT_ID> certs = {{BlobOf(hash), {}}};
};

TEST(SigningCertificate, PoliciesAndQualifiersMatchOpenSsl)
{
    PolicyVector vector;
    const Bytes der = EssFile("sc-policies.der");
    const Info given = InfoOf(vector.certs, vector.policies);
    EXPECT_EQ(der, kvtest::EncodeEveryWay(kCodec, &given));

    const auto result = DecodeChecked<Info>(kCodec, der); // also checks qualifier alignment
    ASSERT_TRUE(result);
    const Info &info = As<Info>(result);
    ASSERT_EQ(2u, info.cPolicies);
    EXPECT_STREQ("1.2.643.100.113.1", info.rgPolicies[0].pszPolicyIdentifier);
    ASSERT_EQ(3u, info.rgPolicies[0].cPolicyQualifier);
    const CERT_POLICY_QUALIFIER_INFO *qualifiers = info.rgPolicies[0].rgPolicyQualifier;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_STREQ(vector.qualifiers[i].pszPolicyQualifierId, qualifiers[i].pszPolicyQualifierId);
        EXPECT_EQ(BlobBytes(vector.qualifiers[i].Qualifier), BlobBytes(qualifiers[i].Qualifier));
    }
    EXPECT_EQ(nullptr, qualifiers[2].Qualifier.pbData);
    EXPECT_STREQ("2.5.29.32.0", info.rgPolicies[1].pszPolicyIdentifier);
    EXPECT_EQ(0u, info.rgPolicies[1].cPolicyQualifier);
    EXPECT_EQ(nullptr, info.rgPolicies[1].rgPolicyQualifier);
    EXPECT_EQ(der, kvtest::EncodeEveryWay(kCodec, &info));
}

// The issuer's Name travels as one directoryName ([4] EXPLICIT); the serial number is what
// the host's X509_MULTI_BYTE_INTEGER codec makes of the blob, sign and all.
TEST(SigningCertificate, SerialNumberGoesThroughTheHostIntegerCodec)
{
    Bytes name = EssFile("root-issuer.der");
    Bytes hash = kHash20;
    const Bytes serials[] = {Hex("01 80"), Hex("FF 7F"), Hex("05 00 00"), Hex("95 84 00")};
    for (Bytes serial : serials) {
        SCOPED_TRACE(testing::PrintToString(serial));
        CRYPT_INTEGER_BLOB blob = BlobOf(serial);
        DWORD cbInteger = 0;
        ASSERT_TRUE(CryptEncodeObject(kvtest::kEncodingType, X509_MULTI_BYTE_INTEGER, &blob,
                                      nullptr, &cbInteger));
        Bytes integer(cbInteger);
        ASSERT_TRUE(CryptEncodeObject(kvtest::kEncodingType, X509_MULTI_BYTE_INTEGER, &blob,
                                      integer.data(), &cbInteger));
        std::vector<KVCMSG_ESS_CERT_ID> certs = {{BlobOf(hash), {BlobOf(name), BlobOf(serial)}}};
        std::vector<CERT_POLICY_INFO> noPolicies;
        const Info given = InfoOf(certs, noPolicies);
        const Bytes issuerSerial = Seq(Concat(Seq(Der(0xA4, name)), integer));
        const Bytes der = Seq(Seq(Seq(Concat(Der(0x04, hash), issuerSerial))));
        EXPECT_EQ(der, kvtest::EncodeEveryWay(kCodec, &given));

        // Back through the host's decoder: the blob it gives for that INTEGER.
        DWORD cbBack = 0;
        ASSERT_TRUE(CryptDecodeObject(kvtest::kEncodingType, X509_MULTI_BYTE_INTEGER,
                                      integer.data(), cbInteger, 0, nullptr, &cbBack));
        std::vector<uint64_t> back(cbBack / sizeof(uint64_t) + 1); // aligned for the blob
        ASSERT_TRUE(CryptDecodeObject(kvtest::kEncodingType, X509_MULTI_BYTE_INTEGER,
                                      integer.data(), cbInteger, 0, back.data(), &cbBack));
        const auto result = DecodeChecked<Info>(kCodec, der);
        ASSERT_TRUE(result);
        const KVCMSG_ISSUER_SERIAL &decoded = As<Info>(result).rgCerts[0].IssuerSerial;
        EXPECT_EQ(BlobBytes(*static_cast<CRYPT_INTEGER_BLOB *>(static_cast<void *>(back.data()))),
                  BlobBytes(decoded.SerialNumber));
        EXPECT_EQ(name, BlobBytes(decoded.Issuer));
    }
}

TEST(SigningCertificate, MalformedCallerStructuresAreRefused)
{
    Bytes hash = kHash20, name = EssFile("root-issuer.der"), serial = {0x01};
    Bytes notAName = Hex("04 01 00");
    CERT_POLICY_QUALIFIER_INFO noBytes = {const_cast<LPSTR>("1.3.6.1.5.5.7.2.1"), {3, nullptr}};
    CERT_POLICY_QUALIFIER_INFO badId = {const_cast<LPSTR>("1.3.6.1.5.5.7.2.1.x"), {}};
    const char *const kMalformed = "Malformed KVCMSG_SIGNING_CERTIFICATE";
    struct Row {
        const char *name;
        std::vector<KVCMSG_ESS_CERT_ID> certs;
        std::vector<CERT_POLICY_INFO> policies;
        DWORD cCertsOverride, cPoliciesOverride; // counts with a null array when non-zero
        DWORD error;
        const char *message;
    } rows[] = {
        // clang-format off
        {"certCountWithoutArray", {}, {}, 2, 0, ERROR_INVALID_PARAMETER, kMalformed},
        {"policyCountWithoutArray", {}, {}, 0, 1, ERROR_INVALID_PARAMETER, kMalformed},
        {"hashLengthWithoutBytes", {{{20, nullptr}, {}}}, {}, 0, 0, ERROR_INVALID_PARAMETER,
         kMalformed},
        {"issuerWithoutSerial", {{BlobOf(hash), {BlobOf(name), {0, nullptr}}}}, {}, 0, 0,
         ERROR_INVALID_PARAMETER, "Invalid IssuerSerial"},
        {"qualifierCountWithoutArray", {}, {{const_cast<LPSTR>("1.2.3"), 1, nullptr}}, 0, 0,
         ERROR_INVALID_PARAMETER, "Malformed CERT_POLICY_INFO"},
        {"qualifierLengthWithoutBytes", {}, {{const_cast<LPSTR>("1.2.3"), 1, &noBytes}}, 0, 0,
         ERROR_INVALID_PARAMETER, "Malformed CERT_POLICY_QUALIFIER_INFO"},
        {"policyIdNotDotted", {}, {{const_cast<LPSTR>("one.two"), 0, nullptr}}, 0, 0,
         CRYPT_E_ASN1_ERROR, "rtStrToOid() failed"},
        {"policyIdMissing", {}, {{nullptr, 0, nullptr}}, 0, 0, CRYPT_E_ASN1_ERROR,
         "rtStrToOid() failed"},
        {"qualifierIdNotDotted", {}, {{const_cast<LPSTR>("1.2.3"), 1, &badId}}, 0, 0,
         CRYPT_E_ASN1_ERROR, "rtStrToOid() failed"},
        {"issuerNotAName", {{BlobOf(hash), {BlobOf(notAName), BlobOf(serial)}}}, {}, 0, 0,
         CRYPT_E_ASN1_ERROR, "call to decodeFun() failed"},
        // clang-format on
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        Info info = InfoOf(row.certs, row.policies);
        if (row.cCertsOverride) info.cCerts = row.cCertsOverride;
        if (row.cPoliciesOverride) info.cPolicies = row.cPoliciesOverride;
        ExpectEncodeFailure(kCodec, &info, row.error, row.message);
    }
}

// ESSCertID around one issuerSerial of the given contents.
Bytes WithIssuerSerial(const Bytes &issuerSerialContents)
{
    return Seq(Seq(Seq(Concat(Der(0x04, kHash20), Seq(issuerSerialContents)))));
}

TEST(SigningCertificate, DecodedIssuerMustBeOneDirectoryName)
{
    const Bytes directoryName = Der(0xA4, EssFile("root-issuer.der"));
    const Bytes serial = Hex("02 01 07");
    struct Row {
        const char *name;
        Bytes issuerSerial;
        const char *message;
    } rows[] = {
        {"noNames", Concat(Seq({}), serial), "Zero or multiple GeneralNames"},
        {"twoNames", Concat(Seq(Concat(directoryName, directoryName)), serial),
         "Zero or multiple GeneralNames"},
        {"rfc822Name", Concat(Seq(Der(0x81, Hex("61 40 62"))), serial),
         "GeneralName is not directoryName"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        kvtest::ClearTrace();
        kvtest::ExpectDecodeFailure(kCodec, WithIssuerSerial(row.issuerSerial),
                                    CRYPT_E_ISSUER_SERIALNUMBER);
        // DecodeEx, then the non-Ex form: one line each.
        EXPECT_THAT(kvtest::TraceLines(),
                    ElementsAre(HasSubstr(row.message), HasSubstr(row.message)));
    }
}

TEST(SigningCertificate, DecodedIssuerUidIsDropped)
{
    const Bytes issuerAndSerial =
        Concat(Seq(Der(0xA4, EssFile("root-issuer.der"))), Hex("02 01 07"));
    const auto result =
        DecodeChecked<Info>(kCodec, WithIssuerSerial(Concat(issuerAndSerial, Hex("03 02 00 5A"))));
    ASSERT_TRUE(result);
    EXPECT_EQ(Hex("07"), BlobBytes(As<Info>(result).rgCerts[0].IssuerSerial.SerialNumber));
    EXPECT_EQ(WithIssuerSerial(issuerAndSerial), kvtest::EncodeEveryWay(kCodec, result.get()));
}

// The frame never hands FillBuffer another size than the size step's, so the check is
// driven here by calling the callbacks themselves.
TEST(SigningCertificate, FillBufferRefusesASizeOtherThanTheSizeStepGave)
{
    const Bytes der = EssFile("sc-policies.der");
    Asn1Context ctx;
    ASSERT_TRUE(InitializeAsn1cContext(&ctx));
    SigningCertificate value{};
    ASSERT_TRUE(Asn1cObjectDecode(&ctx, der.data(), static_cast<DWORD>(der.size()), &value,
                                  DecodeAs<asn1D_SigningCertificate>));
    DWORD cbNeeded = 0;
    ASSERT_TRUE(SigningCertificate_GetBufferSize(&ctx, &value, &cbNeeded));
    for (DWORD cbGiven : {cbNeeded - 1, cbNeeded + 1}) {
        SCOPED_TRACE(cbGiven);
        kvtest::ClearTrace();
        alignas(CERT_POLICY_INFO) BYTE buffer[1024];
        ASSERT_LE(cbNeeded + 1, sizeof buffer);
        SetLastError(0);
        EXPECT_FALSE(SigningCertificate_FillBuffer(&ctx, &value, buffer, cbGiven));
        EXPECT_EQ(CRYPT_E_BAD_ENCODE, GetLastError());
        EXPECT_THAT(kvtest::TraceLines(),
                    ElementsAre(AllOf(HasSubstr("SigningCertificate_FillBuffer"),
                                      HasSubstr("Wrong buffer size"))));
    }
    rtFreeContext(&ctx);
}

// A caller buffer that starts off the structure's alignment is the caller's risk, but the
// qualifier arrays must still be rounded as the size step rounded them: counted from the
// start of the block, never by address, so the fill step cannot end past the size given.
// The sanitizer build (ASan always comes with UBSan there) refuses the misaligned fields.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(KV_TEST_SANITIZED)
constexpr bool kMisalignedAccessTrapped = true;
#else
constexpr bool kMisalignedAccessTrapped = false;
#endif
TEST(SigningCertificate, QualifierArraysRoundFromTheBlockStartNotByAddress)
{
    if (kMisalignedAccessTrapped) GTEST_SKIP() << "misaligned fields trap under UBSan";
    const Bytes der = EssFile("sc-policies.der");
    DWORD cbNeeded = 0;
    ASSERT_TRUE(OrvaDllSigningCertificateDecodeEx(kvtest::kEncodingType, kvtest::kStructType,
                                                  der.data(), static_cast<DWORD>(der.size()), 0,
                                                  nullptr, nullptr, &cbNeeded));
    constexpr size_t kGuard = 16;
    for (size_t shift : {size_t{1}, size_t{4}}) {
        SCOPED_TRACE(shift);
        alignas(CERT_POLICY_INFO) BYTE storage[1024];
        ASSERT_LE(shift + cbNeeded + kGuard, sizeof storage);
        std::memset(storage, 0xA5, sizeof storage);
        BYTE *buffer = storage + shift;
        DWORD cb = cbNeeded;
        EXPECT_TRUE(OrvaDllSigningCertificateDecodeEx(kvtest::kEncodingType, kvtest::kStructType,
                                                      der.data(), static_cast<DWORD>(der.size()), 0,
                                                      nullptr, buffer, &cb));
        EXPECT_EQ(cbNeeded, cb);
        EXPECT_THAT(std::vector<BYTE>(buffer + cbNeeded, buffer + cbNeeded + kGuard),
                    testing::Each(0xA5))
            << "the fill step wrote past the size step";
    }
}

// A context whose heap answers every request with null, as an exhausted heap does: the
// runtime gives null for a context without a heap. The heap is put back for the release.
class ExhaustedContext {
  public:
    ExhaustedContext() { EXPECT_TRUE(InitializeAsn1cContext(&ctx_)); }
    ~ExhaustedContext()
    {
        ctx_.pMemHeap = heap_;
        rtFreeContext(&ctx_);
    }
    Asn1Context *get() { return &ctx_; }
    void Exhaust() { std::swap(heap_, ctx_.pMemHeap); }

  private:
    Asn1Context ctx_;
    void *heap_ = nullptr;
};

TEST(SigningCertificate, ExhaustedContextHeapIsReportedAsNoMemory)
{
    Bytes hash = kHash20, name = EssFile("root-issuer.der"), serial = {0x01};
    std::vector<KVCMSG_ESS_CERT_ID> certs = {{BlobOf(hash), {}}}, noCerts;
    std::vector<CERT_POLICY_INFO> policies = {{const_cast<LPSTR>("1.2.3"), 0, nullptr}}, noPolicies;
    const Info withCert = InfoOf(certs, noPolicies), withPolicy = InfoOf(noCerts, policies);
    const KVCMSG_ISSUER_SERIAL issuerSerial = {BlobOf(name), BlobOf(serial)};
    const Bytes der = EssFile("sc-sha1-chain.der");
    struct Row {
        const char *name;
        std::function<BOOL(Asn1Context *, SigningCertificate *)> call;
        const char *message;
    } rows[] = {
        {"certNode",
         [&](Asn1Context *ctx, SigningCertificate *value) {
             return SigningCertificate_FillAsn1cObject(ctx, &withCert, value);
         },
         "ALLOC_ASN1ELEMDNODE() failed"},
        {"policyNode",
         [&](Asn1Context *ctx, SigningCertificate *value) {
             return SigningCertificate_FillAsn1cObject(ctx, &withPolicy, value);
         },
         "ALLOC_ASN1ELEMDNODE() failed"},
        {"issuerName",
         [&](Asn1Context *ctx, SigningCertificate *) {
             IssuerSerial value{};
             return IssuerSerial_FillAsn1cObject(ctx, &issuerSerial, &value);
         },
         "ALLOC_ASN1ELEM() failed"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ExhaustedContext ctx;
        SigningCertificate value{}; // decoded before the heap runs dry
        ASSERT_TRUE(Asn1cObjectDecode(ctx.get(), der.data(), static_cast<DWORD>(der.size()), &value,
                                      DecodeAs<asn1D_SigningCertificate>));
        kvtest::ClearTrace();
        ctx.Exhaust();
        SetLastError(0);
        EXPECT_FALSE(row.call(ctx.get(), &value));
        EXPECT_EQ(NTE_NO_MEMORY, GetLastError());
        EXPECT_THAT(kvtest::TraceLines(), ElementsAre(HasSubstr(row.message)));
    }
}

TEST(SigningCertificate, DecodeWithoutExRefusesAllocationUnderItsOwnName)
{
    const Bytes der = Hex("30 02 30 00");
    void *pv = nullptr;
    DWORD cb = 0;
    EXPECT_FALSE(OrvaDllSigningCertificateDecode(kvtest::kEncodingType, kvtest::kStructType,
                                                 der.data(), static_cast<DWORD>(der.size()),
                                                 CRYPT_DECODE_ALLOC_FLAG, &pv, &cb));
    EXPECT_EQ(NTE_BAD_FLAGS, GetLastError());
    EXPECT_EQ(nullptr, pv);
    EXPECT_THAT(kvtest::TraceLines(),
                ElementsAre(AllOf(HasSubstr("OrvaDllSigningCertificateDecode("),
                                  HasSubstr("no flags supported"))));
}

} // namespace

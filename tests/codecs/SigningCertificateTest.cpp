// The ESS signing-certificate attributes through their entry points: SigningCertificate
// (RFC 2634), SigningCertificateV2 (RFC 5035) and OtherSigningCertificate, checked against
// attributes that `openssl ts` and `openssl asn1parse -genconf` wrote (tests/data/ess), and the
// shared ESS helpers (issuer and serial, policies) through SigningCertificate.
#include "FailingHeap.h"

#include "codecs/EssHelpers.h"
#include "kvext/kvext.h"

#include "common/Der.h"
#include "common/EntryPoints.h"
#include "common/FileTest.h"
#include "common/TraceFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using kvtest::Der;
using testing::AllOf;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

using Bytes = std::vector<BYTE>;
using kvtest::Split;

const kvtest::CodecEntryPoints kCodec = {
    OrvaDllSigningCertificateEncodeEx, OrvaDllSigningCertificateEncode,
    OrvaDllSigningCertificateDecodeEx, OrvaDllSigningCertificateDecode};
const kvtest::CodecEntryPoints kCodecV2 = {
    OrvaDllSigningCertificateV2EncodeEx, OrvaDllSigningCertificateV2Encode,
    OrvaDllSigningCertificateV2DecodeEx, OrvaDllSigningCertificateV2Decode};
const kvtest::CodecEntryPoints kCodecOther = {
    OrvaDllOtherSigningCertificateEncodeEx, OrvaDllOtherSigningCertificateEncode,
    OrvaDllOtherSigningCertificateDecodeEx, OrvaDllOtherSigningCertificateDecode};

using Info = KVCMSG_SIGNING_CERTIFICATE;

const Bytes kHash20 = kvtest::FromHex("A9993E364706816ABA3E25717850C26C9CD0D89D"); // SHA-1("abc")

Info InfoOf(std::vector<KVCMSG_ESS_CERT_ID> &certs, std::vector<CERT_POLICY_INFO> &policies)
{
    return {static_cast<DWORD>(certs.size()), certs.empty() ? nullptr : certs.data(),
            static_cast<DWORD>(policies.size()), policies.empty() ? nullptr : policies.data()};
}

Bytes Hex(const std::string &text)
{
    return kvtest::FromHex(text);
}

Bytes Concat(const Bytes &head, const Bytes &tail)
{
    return kvtest::Cat({head, tail});
}

Bytes Seq(const Bytes &contents)
{
    return Der(0x30, contents);
}

Bytes BlobBytes(const CRYPT_DATA_BLOB &blob)
{
    return blob.cbData ? Bytes(blob.pbData, blob.pbData + blob.cbData) : Bytes{};
}

CRYPT_DATA_BLOB BlobOf(Bytes &bytes)
{
    return {static_cast<DWORD>(bytes.size()), bytes.empty() ? nullptr : bytes.data()};
}

Bytes EssFile(const std::string &name)
{
    Bytes der = kvtest::ReadDataFile("ess/" + name);
    EXPECT_FALSE(der.empty()) << name;
    return der;
}

// expected.txt: "<certificate>.<what> <hex>" as openssl printed it.
std::string Expected(const std::string &key)
{
    std::ifstream in(kvtest::DataPath("ess/expected.txt"));
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string name, value;
        if (fields >> name >> value && name == key) return value;
    }
    ADD_FAILURE() << "no " << key << " in expected.txt";
    return {};
}

// openssl prints a serial number as the magnitude, most significant octet first. The host's
// X509_MULTI_BYTE_INTEGER holds the INTEGER's content octets (with the sign octet X.690,
// 8.3.2 puts in front of a high bit) least significant first.
Bytes SerialAsHostBlob(const std::string &opensslHex)
{
    Bytes content = Hex(opensslHex);
    if (!content.empty() && (content.front() & 0x80)) content.insert(content.begin(), 0x00);
    std::reverse(content.begin(), content.end());
    return content;
}

// A caller structure as tests/data/ess/encode.txt describes it, with the storage its
// pointers refer to (deques keep their elements in place as they grow).
template <typename Info> class CallerInfo {
  public:
    using CertId = std::remove_pointer_t<decltype(Info::rgCerts)>;

    explicit CallerInfo(const kvtest::FileCase &c)
    {
        for (const std::string &cert : Items(c.Get("Certs", "none"), &info.cCerts))
            certs_.push_back(CertIdOf(cert));
        for (const std::string &policy : Items(c.Get("Policies", "none"), &info.cPolicies))
            policies_.push_back(PolicyOf(policy));
        if (!certs_.empty()) info.cCerts = static_cast<DWORD>(certs_.size());
        if (!certs_.empty()) info.rgCerts = certs_.data();
        if (!policies_.empty()) info.cPolicies = static_cast<DWORD>(policies_.size());
        if (!policies_.empty()) info.rgPolicies = policies_.data();
    }
    Info info{};

  private:
    // The items of a list; "none" is none, "null:<n>" a count without an array.
    static std::vector<std::string> Items(const std::string &text, DWORD *count)
    {
        if (text.starts_with("null:")) *count = static_cast<DWORD>(std::stoul(text.substr(5)));
        if (text == "none" || text.starts_with("null:")) return {};
        return Split(text, " | ");
    }

    CertId CertIdOf(const std::string &text)
    {
        CertId certId{};
        for (const std::string &field : Split(text, " ")) {
            const size_t eq = field.find('=');
            const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
            if constexpr (requires { certId.HashAlgorithm; }) {
                if (key == "alg") certId.HashAlgorithm.pszObjId = Text(value);
                if (key == "params") certId.HashAlgorithm.Parameters = Blob(value);
            }
            if (key == "hash") certId.CertHash = Blob(value);
            if (key == "issuer") certId.IssuerSerial.Issuer = Blob(value);
            if (key == "serial") certId.IssuerSerial.SerialNumber = Blob(value);
        }
        return certId;
    }

    CERT_POLICY_INFO PolicyOf(const std::string &text)
    {
        const std::vector<std::string> parts = Split(text, " ");
        CERT_POLICY_INFO policy{parts[0] == "id-null" ? nullptr : Text(parts[0]), 0, nullptr};
        auto &qualifiers = qualifiers_.emplace_back();
        for (size_t i = 1; i < parts.size(); ++i) {
            if (parts[i].starts_with("q-null:")) {
                policy.cPolicyQualifier = static_cast<DWORD>(std::stoul(parts[i].substr(7)));
                continue;
            }
            const size_t colon = parts[i].find(':');
            qualifiers.push_back(
                {Text(parts[i].substr(2, colon - 2)), Blob(parts[i].substr(colon + 1))});
        }
        if (!qualifiers.empty()) {
            policy.cPolicyQualifier = static_cast<DWORD>(qualifiers.size());
            policy.rgPolicyQualifier = qualifiers.data();
        }
        return policy;
    }

    LPSTR Text(const std::string &text) { return texts_.emplace_back(text).data(); }

    // Hex, @file, a key of expected.txt, nothing, or null:<n>.
    CRYPT_DATA_BLOB Blob(const std::string &value)
    {
        if (value.starts_with("null:"))
            return {static_cast<DWORD>(std::stoul(value.substr(5))), {}};
        Bytes bytes = value.starts_with("@")          ? EssFile(value.substr(1))
                      : value.ends_with(".serial")    ? SerialAsHostBlob(Expected(value))
                      : value.find('.') != value.npos ? Hex(Expected(value))
                                                      : Hex(value);
        return BlobOf(bytes_.emplace_back(std::move(bytes)));
    }

    std::deque<Bytes> bytes_;
    std::deque<std::string> texts_;
    std::deque<std::vector<CERT_POLICY_QUALIFIER_INFO>> qualifiers_;
    std::vector<CertId> certs_;
    std::vector<CERT_POLICY_INFO> policies_;
};

// ------------------------------------------------------------------ flat result check

// Every region a flat result's pointers refer to, with the structure itself first.
class FlatLayout {
  public:
    FlatLayout(const void *block, DWORD cbBlock)
        : block_(static_cast<const BYTE *>(block)), cbBlock_(cbBlock)
    {
    }
    void Add(const void *p, size_t cb, const char *what)
    {
        if (cb == 0) {
            EXPECT_EQ(nullptr, p) << what << ": empty, so no pointer";
            return;
        }
        ASSERT_NE(nullptr, p) << what;
        EXPECT_TRUE(kvtest::InsideBlock(block_, cbBlock_, p, cb)) << what;
        regions_.emplace_back(static_cast<const BYTE *>(p), cb);
    }
    void AddBlob(const CRYPT_DATA_BLOB &blob, const char *what)
    {
        Add(blob.pbData, blob.cbData, what);
    }
    void AddString(const char *text, const char *what)
    {
        ASSERT_NE(nullptr, text) << what;
        Add(text, std::strlen(text) + 1, what);
    }
    void AddAlgorithm(const CRYPT_ALGORITHM_IDENTIFIER &alg)
    {
        AddString(alg.pszObjId, "HashAlgorithm.pszObjId");
        AddBlob(alg.Parameters, "HashAlgorithm.Parameters");
    }
    template <typename CertId> void AddCertId(const CertId &certId)
    {
        if constexpr (requires { certId.HashAlgorithm; }) AddAlgorithm(certId.HashAlgorithm);
        AddBlob(certId.CertHash, "CertHash");
        AddBlob(certId.IssuerSerial.Issuer, "Issuer");
        AddBlob(certId.IssuerSerial.SerialNumber, "SerialNumber");
    }
    void AddPolicy(const CERT_POLICY_INFO &policy)
    {
        AddString(policy.pszPolicyIdentifier, "pszPolicyIdentifier");
        Add(policy.rgPolicyQualifier, policy.cPolicyQualifier * sizeof(CERT_POLICY_QUALIFIER_INFO),
            "rgPolicyQualifier");
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(policy.rgPolicyQualifier) %
                          alignof(CERT_POLICY_QUALIFIER_INFO))
            << "qualifier array aligned for its structure";
        for (DWORD i = 0; i < policy.cPolicyQualifier; ++i) {
            AddString(policy.rgPolicyQualifier[i].pszPolicyQualifierId, "pszPolicyQualifierId");
            AddBlob(policy.rgPolicyQualifier[i].Qualifier, "Qualifier");
        }
    }
    template <typename Info> void AddInfo(const Info &info)
    {
        Add(&info, sizeof info, "structure");
        EXPECT_EQ(static_cast<const void *>(&info), block_) << "the structure opens the block";
        Add(info.rgCerts, info.cCerts * sizeof *info.rgCerts, "rgCerts");
        Add(info.rgPolicies, info.cPolicies * sizeof *info.rgPolicies, "rgPolicies");
        for (DWORD i = 0; i < info.cCerts; ++i)
            AddCertId(info.rgCerts[i]);
        for (DWORD i = 0; i < info.cPolicies; ++i)
            AddPolicy(info.rgPolicies[i]);
    }
    // No two regions overlap, and the last one ends where the block ends: the fill step
    // used exactly the bytes the size step asked for.
    void ExpectTiling() const
    {
        auto sorted = regions_;
        std::sort(sorted.begin(), sorted.end());
        for (size_t i = 1; i < sorted.size(); ++i)
            EXPECT_LE(sorted[i - 1].first + sorted[i - 1].second, sorted[i].first)
                << "regions " << i - 1 << " and " << i << " overlap";
        ASSERT_FALSE(sorted.empty());
        EXPECT_EQ(block_ + cbBlock_, sorted.back().first + sorted.back().second);
    }

  private:
    const BYTE *block_;
    DWORD cbBlock_;
    std::vector<std::pair<const BYTE *, size_t>> regions_;
};

// Decodes `der` in every delivery mode and checks the result's layout; null on failure.
template <typename Info>
kvtest::FlatResult DecodeChecked(const kvtest::CodecEntryPoints &codec, const Bytes &der,
                                 DWORD *pcb = nullptr)
{
    DWORD cb = 0;
    kvtest::FlatResult result = kvtest::DecodeEveryWay(codec, der, &cb);
    if (!result) return result;
    FlatLayout layout(result.get(), cb);
    layout.AddInfo(*static_cast<const Info *>(result.get()));
    layout.ExpectTiling();
    if (pcb) *pcb = cb;
    return result;
}

template <typename Info> const Info &As(const kvtest::FlatResult &result)
{
    return *static_cast<const Info *>(result.get());
}

// Encoding fails with `error` and the single trace line `message`.
void ExpectEncodeFailure(const kvtest::CodecEntryPoints &codec, const void *pvStructInfo,
                         DWORD error, const std::string &message)
{
    kvtest::ClearTrace();
    DWORD cb = 0;
    SetLastError(0);
    EXPECT_FALSE(codec.encodeEx(kvtest::kEncodingType, kvtest::kStructType, pvStructInfo, 0,
                                nullptr, nullptr, &cb));
    EXPECT_EQ(error, GetLastError());
    EXPECT_EQ(0u, cb);
    EXPECT_THAT(kvtest::TraceLines(), ElementsAre(HasSubstr(message)));
}

template <typename Info> void ExpectSameInfo(const Info &want, const Info &got)
{
    ASSERT_EQ(want.cCerts, got.cCerts);
    for (DWORD i = 0; i < want.cCerts; ++i) {
        SCOPED_TRACE("cert " + std::to_string(i));
        const auto &wantCert = want.rgCerts[i], &gotCert = got.rgCerts[i];
        if constexpr (requires { wantCert.HashAlgorithm; }) {
            EXPECT_STREQ(wantCert.HashAlgorithm.pszObjId, gotCert.HashAlgorithm.pszObjId);
            EXPECT_EQ(BlobBytes(wantCert.HashAlgorithm.Parameters),
                      BlobBytes(gotCert.HashAlgorithm.Parameters));
        }
        EXPECT_EQ(BlobBytes(wantCert.CertHash), BlobBytes(gotCert.CertHash));
        EXPECT_EQ(BlobBytes(wantCert.IssuerSerial.Issuer), BlobBytes(gotCert.IssuerSerial.Issuer));
        EXPECT_EQ(BlobBytes(wantCert.IssuerSerial.SerialNumber),
                  BlobBytes(gotCert.IssuerSerial.SerialNumber));
    }
    ASSERT_EQ(want.cPolicies, got.cPolicies);
    for (DWORD i = 0; i < want.cPolicies; ++i) {
        SCOPED_TRACE("policy " + std::to_string(i));
        const CERT_POLICY_INFO &wantPolicy = want.rgPolicies[i], &gotPolicy = got.rgPolicies[i];
        EXPECT_STREQ(wantPolicy.pszPolicyIdentifier, gotPolicy.pszPolicyIdentifier);
        ASSERT_EQ(wantPolicy.cPolicyQualifier, gotPolicy.cPolicyQualifier);
        for (DWORD q = 0; q < wantPolicy.cPolicyQualifier; ++q) {
            EXPECT_STREQ(wantPolicy.rgPolicyQualifier[q].pszPolicyQualifierId,
                         gotPolicy.rgPolicyQualifier[q].pszPolicyQualifierId);
            EXPECT_EQ(BlobBytes(wantPolicy.rgPolicyQualifier[q].Qualifier),
                      BlobBytes(gotPolicy.rgPolicyQualifier[q].Qualifier));
        }
    }
}

DWORD ErrorCode(const std::string &name)
{
    static const std::map<std::string, DWORD> kCodes = {
        {"ERROR_INVALID_PARAMETER", ERROR_INVALID_PARAMETER},
        {"CRYPT_E_ASN1_ERROR", CRYPT_E_ASN1_ERROR},
        {"CRYPT_E_ISSUER_SERIALNUMBER", CRYPT_E_ISSUER_SERIALNUMBER}};
    return kCodes.at(name);
}

template <typename Info>
void ExpectDecodeCase(const kvtest::CodecEntryPoints &codec, const kvtest::FileCase &c)
{
    const Bytes input = Hex(c.Get("Decode"));
    if (c.Has("Error")) {
        kvtest::ClearTrace();
        kvtest::ExpectDecodeFailure(codec, input, ErrorCode(c.Get("Error")));
        EXPECT_THAT(kvtest::TraceLines(),
                    ElementsAre(HasSubstr(c.Get("Message")), HasSubstr(c.Get("Message"))));
        return;
    }
    const auto result = DecodeChecked<Info>(codec, input);
    ASSERT_TRUE(result);
    EXPECT_EQ(Hex(c.Get("DER")), kvtest::EncodeEveryWay(codec, result.get()));
}

template <typename Info>
void ExpectCase(const kvtest::CodecEntryPoints &codec, const kvtest::FileCase &c)
{
    if (c.Has("Decode")) return ExpectDecodeCase<Info>(codec, c);
    const CallerInfo<Info> given(c);
    if (!c.Has("DER")) {
        ExpectEncodeFailure(codec, &given.info, ErrorCode(c.Get("Error")), c.Get("Message"));
        return;
    }
    const std::string &text = c.Get("DER");
    const Bytes der = text.starts_with("@") ? EssFile(text.substr(1)) : Hex(text);
    EXPECT_EQ(der, kvtest::EncodeEveryWay(codec, &given.info));
    const auto result = DecodeChecked<Info>(codec, der);
    ASSERT_TRUE(result);
    if (!c.Has("Rewritten")) ExpectSameInfo(given.info, As<Info>(result));
    EXPECT_EQ(der, kvtest::EncodeEveryWay(codec, result.get())) << "decoded result re-encodes";
}

// Caller structures of tests/data/ess/encode.txt, among them the values openssl reported for
// its attributes: the DER each one gives (which decodes back to them), or the refusal.
TEST(SigningCertificates, CallerStructures)
{
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("ess/encode.txt")) {
        SCOPED_TRACE(c.where);
        const std::string &codec = c.Get("Codec");
        if (codec == "SigningCertificate")
            ExpectCase<KVCMSG_SIGNING_CERTIFICATE>(kCodec, c);
        else if (codec == "SigningCertificateV2")
            ExpectCase<KVCMSG_SIGNING_CERTIFICATEV2>(kCodecV2, c);
        else
            ExpectCase<KVCMSG_OTHER_SIGNING_CERTIFICATE>(kCodecOther, c);
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

// Each allocation of an encoding and a decoding with every part fails in turn, cleanly.
TEST(SigningCertificate, EveryAllocationFailureIsClean)
{
    const CallerInfo<Info> given({"every part",
                                  {{"Certs", "hash=tsa.sha1 | hash=root.sha1 "
                                             "issuer=@root-issuer.der serial=root.serial"},
                                   {"Policies", "1.2.3 q=1.3.6.1.5.5.7.2.1:0500 | 1.2.4"}}});
    BYTE *pbEncoded = nullptr;
    DWORD cbEncoded = 0;
    const std::set<std::string> encodeMessages = FailEachAllocation([&] {
        return OrvaDllSigningCertificateEncodeEx(kvtest::kEncodingType, kvtest::kStructType,
                                                 &given.info, CRYPT_ENCODE_ALLOC_FLAG, nullptr,
                                                 &pbEncoded, &cbEncoded);
    });
    for (const std::string &m : encodeMessages)
        printf("E %s\n", m.c_str());
    void *pvDecoded = nullptr;
    DWORD cbDecoded = 0;
    const std::set<std::string> decodeMessages = FailEachAllocation([&] {
        return OrvaDllSigningCertificateDecodeEx(kvtest::kEncodingType, kvtest::kStructType,
                                                 pbEncoded, cbEncoded, CRYPT_DECODE_ALLOC_FLAG,
                                                 nullptr, &pvDecoded, &cbDecoded);
    });
    for (const std::string &m : decodeMessages)
        printf("D %s\n", m.c_str());
    std::free(pbEncoded);
    std::free(pvDecoded);
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

    alignas(KVCMSG_OTHER_SIGNING_CERTIFICATE)
        BYTE buffer[sizeof(KVCMSG_OTHER_SIGNING_CERTIFICATE) + sizeof(KVCMSG_OTHER_CERT_ID)];
    SetLastError(0);
    EXPECT_FALSE(OtherSigningCertificate_FillBuffer(&ctx, &value, buffer, sizeof buffer));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
    EXPECT_THAT(kvtest::TraceLines(), ElementsAre(HasSubstr("Malformed OtherCertID"),
                                                  HasSubstr("Malformed OtherCertID")));
    rtFreeContext(&ctx);
}

} // namespace

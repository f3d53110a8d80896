// The public key of a provider key pair made by OpenSSL's GOST engine, exported through the
// library, is what `openssl pkey -pubout -outform DER` wrote for that key.
#include "keys/KeyHelpers.h"
#include "keys/ExportPublicKey.h"
#include "keys/GostVocabulary.h"
#include "kvext/keys.h"

#include "GostKeyVectors.h"
#include "ProviderHandles.h"
#include "common/AllocWrap.h"
#include "common/TraceFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

using kvtest::Bytes;
using kvtest::BytesOf;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

ALG_ID g_reportedAlgId = 0; // non-zero: exported public-key blobs carry this aiKeyAlg
bool g_failBlobAlloc = false;

} // namespace

// The program is linked with --wrap for these (tests/keys/CMakeLists.txt).
extern "C" BOOL __real_CryptExportKey(HCRYPTKEY, HCRYPTKEY, DWORD, DWORD, BYTE *, DWORD *);
extern "C" BOOL __wrap_CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType,
                                      DWORD dwFlags, BYTE *pbData, DWORD *pdwDataLen)
{
    const BOOL ok = __real_CryptExportKey(hKey, hExpKey, dwBlobType, dwFlags, pbData, pdwDataLen);
    if (ok && pbData && g_reportedAlgId)
        std::memcpy(pbData + offsetof(BLOBHEADER, aiKeyAlg), &g_reportedAlgId, sizeof(ALG_ID));
    return ok;
}
extern "C" void *WrapKVSUPAllocMemory(size_t cb)
{
    if (g_failBlobAlloc) {
        SetLastError(NTE_NO_MEMORY);
        return nullptr;
    }
    return RealKVSUPAllocMemory(cb);
}

namespace {

class ProviderKeys : public testing::Test {
  protected:
    void TearDown() override
    {
        g_reportedAlgId = 0;
        g_failBlobAlloc = false;
    }
    const std::vector<kvtest::GostKeyVector> vectors_ = kvtest::LoadGostKeyVectors();
};

// One flat CERT_PUBLIC_KEY_INFO from OrvaDllExportPublicKeyInfoEx, in a buffer of its own.
struct ExportedInfo {
    BOOL ok;
    DWORD error;
    DWORD cbInfo;
    std::vector<BYTE> buffer; // the caller's buffer as it was left
};

ExportedInfo ExportInfo(HCRYPTPROV hProv, LPCSTR pszObjId, DWORD cbBuffer)
{
    ExportedInfo result{FALSE, 0, cbBuffer, std::vector<BYTE>(cbBuffer, 0xA5)};
    SetLastError(0x1234);
    result.ok = OrvaDllExportPublicKeyInfoEx(
        hProv, AT_KEYEXCHANGE, X509_ASN_ENCODING, const_cast<LPSTR>(pszObjId), 0, nullptr,
        reinterpret_cast<CERT_PUBLIC_KEY_INFO *>(result.buffer.data()), &result.cbInfo);
    result.error = GetLastError();
    return result;
}

DWORD RequiredInfoSize(HCRYPTPROV hProv, LPCSTR pszObjId)
{
    DWORD cbInfo = 0;
    EXPECT_TRUE(OrvaDllExportPublicKeyInfoEx(hProv, AT_KEYEXCHANGE, X509_ASN_ENCODING,
                                             const_cast<LPSTR>(pszObjId), 0, nullptr, nullptr,
                                             &cbInfo));
    return cbInfo;
}

// Every key size and parameter set: the OID CryptoAPI lists for the key's algorithm, the
// parameters and the key encoding OpenSSL wrote, laid out right behind the structure; as an
// ASN.1 value, encoded again, the SubjectPublicKeyInfo is OpenSSL's byte for byte.
TEST_F(ProviderKeys, ExportPublicKeyInfoGivesWhatOpenSslWrote)
{
    ASSERT_EQ(11u, vectors_.size());
    for (const auto &v : vectors_) {
        SCOPED_TRACE(v.name);
        const auto hProv = kvtest::AcquireProvider(&v.keyPemPath);
        ASSERT_NE(0u, *hProv);
        const DWORD cbNeeded = RequiredInfoSize(*hProv, nullptr);
        ASSERT_EQ(sizeof(CERT_PUBLIC_KEY_INFO) + v.algorithmOid.size() + 1 + v.params.size() +
                      v.publicKey.size(),
                  cbNeeded);
        const ExportedInfo exported = ExportInfo(*hProv, nullptr, cbNeeded);
        ASSERT_TRUE(exported.ok);
        EXPECT_EQ(0x1234u, exported.error);
        const auto *info = reinterpret_cast<const CERT_PUBLIC_KEY_INFO *>(exported.buffer.data());
        const BYTE *base = exported.buffer.data() + sizeof(CERT_PUBLIC_KEY_INFO);
        EXPECT_EQ(reinterpret_cast<const char *>(base), info->Algorithm.pszObjId);
        EXPECT_STREQ(v.algorithmOid.c_str(), info->Algorithm.pszObjId);
        EXPECT_EQ(base + v.algorithmOid.size() + 1, info->Algorithm.Parameters.pbData);
        EXPECT_EQ(v.params, BytesOf(info->Algorithm.Parameters));
        EXPECT_EQ(info->Algorithm.Parameters.pbData + v.params.size(), info->PublicKey.pbData);
        EXPECT_EQ(v.publicKey,
                  Bytes(info->PublicKey.pbData, info->PublicKey.pbData + info->PublicKey.cbData));
        EXPECT_EQ(0u, info->PublicKey.cUnusedBits);
        EXPECT_EQ(exported.buffer.data() + cbNeeded,
                  info->PublicKey.pbData + info->PublicKey.cbData);

        auto hKey = kvtest::NewScopedKey();
        ASSERT_TRUE(CryptGetUserKey(*hProv, AT_KEYEXCHANGE, hKey.get()));
        Asn1Context ctx{};
        ASSERT_EQ(0, rtInitContext(&ctx, nullptr));
        std::unique_ptr<Asn1Context, decltype(&rtFreeContext)> release(&ctx, rtFreeContext);
        SubjectPublicKeyInfo value{};
        ASSERT_TRUE(OrvaExportSubjectPublicKeyInfo(&ctx, *hKey, &value));
        ASSERT_EQ(0, xe_setp(&ctx, nullptr, 0));
        const int cbEncoded = asn1E_SubjectPublicKeyInfo(&ctx, &value, ASN1EXPL);
        ASSERT_GT(cbEncoded, 0);
        EXPECT_EQ(v.spki, Bytes(xe_getp(&ctx), xe_getp(&ctx) + cbEncoded));
    }
}

// Size query, a buffer one byte short, a larger buffer: the caller's protocol end to end.
TEST_F(ProviderKeys, ExportPublicKeyInfoBufferProtocol)
{
    const auto &v = vectors_.at(8); // a 512-bit key
    const auto hProv = kvtest::AcquireProvider(&v.keyPemPath);
    ASSERT_NE(0u, *hProv);
    const DWORD cbNeeded = RequiredInfoSize(*hProv, nullptr);

    const ExportedInfo shortBy1 = ExportInfo(*hProv, nullptr, cbNeeded - 1);
    EXPECT_FALSE(shortBy1.ok);
    EXPECT_EQ(DWORD{ERROR_MORE_DATA}, shortBy1.error);
    EXPECT_EQ(cbNeeded, shortBy1.cbInfo);
    EXPECT_THAT(shortBy1.buffer, testing::Each(0xA5));

    const ExportedInfo larger = ExportInfo(*hProv, nullptr, cbNeeded + 16);
    ASSERT_TRUE(larger.ok);
    EXPECT_EQ(cbNeeded + 16, larger.cbInfo); // the caller's size is kept
    EXPECT_THAT(Bytes(larger.buffer.begin() + cbNeeded, larger.buffer.end()), testing::Each(0xA5));
    EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
}

// A given OID is used as it is; the provider's failures and a blob that cannot be allocated
// come back with their codes.
TEST_F(ProviderKeys, ExportPublicKeyInfoOidAndFailures)
{
    const auto &v = vectors_.at(0);
    const auto hProv = kvtest::AcquireProvider(&v.keyPemPath);
    ASSERT_NE(0u, *hProv);
    const DWORD cbNeeded = RequiredInfoSize(*hProv, "1.2.643.2.2.98");
    const ExportedInfo exported = ExportInfo(*hProv, "1.2.643.2.2.98", cbNeeded);
    ASSERT_TRUE(exported.ok);
    EXPECT_STREQ(
        "1.2.643.2.2.98",
        reinterpret_cast<const CERT_PUBLIC_KEY_INFO *>(exported.buffer.data())->Algorithm.pszObjId);

    g_reportedAlgId = 0x1234; // an algorithm CryptoAPI lists no OID for
    const ExportedInfo unknown = ExportInfo(*hProv, nullptr, cbNeeded);
    EXPECT_FALSE(unknown.ok);
    EXPECT_EQ(DWORD{NTE_BAD_ALGID}, unknown.error);
    g_reportedAlgId = 0;

    g_failBlobAlloc = true;
    const ExportedInfo noMemory = ExportInfo(*hProv, nullptr, cbNeeded);
    EXPECT_FALSE(noMemory.ok);
    EXPECT_EQ(DWORD{NTE_NO_MEMORY}, noMemory.error);
    g_failBlobAlloc = false;

    const auto hNoContainer = kvtest::AcquireProvider(nullptr);
    ASSERT_NE(0u, *hNoContainer);
    SetLastError(0);
    DWORD cbInfo = 0;
    EXPECT_FALSE(OrvaDllExportPublicKeyInfoEx(*hNoContainer, AT_KEYEXCHANGE, X509_ASN_ENCODING,
                                              nullptr, 0, nullptr, nullptr, &cbInfo));
    EXPECT_NE(0u, GetLastError()); // the provider's code for a missing key
}

// The internal form, as the CMS functions use it: the OID follows the algorithm the provider
// reports in the blob, the blocks come from the caller's allocator.
TEST_F(ProviderKeys, ExportPublicKeyInfoFollowsTheReportedAlgorithm)
{
    const auto &v = vectors_.at(8); // a 512-bit key
    const auto hProv = kvtest::AcquireProvider(&v.keyPemPath);
    ASSERT_NE(0u, *hProv);
    auto hKey = kvtest::NewScopedKey();
    ASSERT_TRUE(CryptGetUserKey(*hProv, AT_KEYEXCHANGE, hKey.get()));
    const struct {
        const char *name;
        ALG_ID reported;
        const char *oid;
    } rows[] = {
        {"as the provider says", 0, "1.2.643.7.1.1.1.2"},
        {"2012 512-bit signature key", 0x2E3D, "1.2.643.7.1.1.1.2"},
        {"2012 512-bit key exchange key", 0xAA42, "1.2.643.7.1.1.6.2"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        g_reportedAlgId = row.reported;
        CERT_PUBLIC_KEY_INFO info{};
        info.PublicKey.cUnusedBits = 5;
        ASSERT_TRUE(OrvaExportPublicKeyInfo(*hKey, &info, pfnAllocMemory));
        EXPECT_STREQ(row.oid, info.Algorithm.pszObjId);
        EXPECT_EQ(v.params, BytesOf(info.Algorithm.Parameters));
        EXPECT_EQ(v.publicKey,
                  Bytes(info.PublicKey.pbData, info.PublicKey.pbData + info.PublicKey.cbData));
        EXPECT_EQ(5u, info.PublicKey.cUnusedBits); // left as the caller set it
        std::free(info.Algorithm.Parameters.pbData);
        std::free(info.PublicKey.pbData);
    }

    g_reportedAlgId = ALG_GOST_DH_2012_512_EPHEM; // no OID in this library
    CERT_PUBLIC_KEY_INFO info{};
    EXPECT_FALSE(OrvaExportPublicKeyInfo(*hKey, &info, pfnAllocMemory));
    EXPECT_EQ(DWORD{NTE_BAD_ALGID}, GetLastError());
    EXPECT_EQ(nullptr, info.PublicKey.pbData);
    EXPECT_THAT(kvtest::TraceLines(),
                ElementsAre(kvtest::TraceLineOf("OrvaExportPublicKeyInfo",
                                                "() public key algorithm aa43 has no OID")));
}

} // namespace

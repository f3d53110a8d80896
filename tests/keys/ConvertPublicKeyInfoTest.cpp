// OrvaConvertPublicKeyInfo: certificate public keys made by OpenSSL's GOST engine become the
// provider's GOST PUBLICKEYBLOB, checked byte by byte against the blob layout.
#include "kvext/keys.h"

#include "GostKeyVectors.h"
#include "common/AllocWrap.h"
#include "common/FileTest.h"
#include "common/TraceFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <asn1rt.h>

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

using kvtest::Bytes;
using kvtest::TraceLines;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

namespace {

int g_initFailure = 0;    // non-zero: rtInitContext answers this
int g_allocsToGrant = -1; // >= 0: KVSUPAllocMemory fails once this many blocks were given
int g_allocCount = 0;

} // namespace

// The program is linked with --wrap for these (tests/keys/CMakeLists.txt).
extern "C" int __real_rtInitContext(Asn1Context *pctxt, void *pMemHeap);
extern "C" int __wrap_rtInitContext(Asn1Context *pctxt, void *pMemHeap)
{
    return g_initFailure ? g_initFailure : __real_rtInitContext(pctxt, pMemHeap);
}
extern "C" void *WrapKVSUPAllocMemory(size_t cb)
{
    if (g_allocsToGrant >= 0 && g_allocCount >= g_allocsToGrant) {
        SetLastError(NTE_NO_MEMORY);
        return nullptr;
    }
    ++g_allocCount;
    return RealKVSUPAllocMemory(cb);
}

namespace {

auto TraceOf(const char *message)
{
    return kvtest::TraceLineOf("OrvaConvertPublicKeyInfo", message);
}

// Blocks of the default allocator come from the C heap.
using BlobPtr = std::unique_ptr<BYTE, decltype(&std::free)>;

struct Converted {
    BOOL ok;
    DWORD error;
    Bytes blob;
};

Converted Convert(CERT_PUBLIC_KEY_INFO info)
{
    BYTE *pbBlob = nullptr;
    DWORD cbBlob = 0xDEADBEEF;
    SetLastError(0x1234);
    const BOOL ok = OrvaConvertPublicKeyInfo(X509_ASN_ENCODING, &info, 0, 0, &pbBlob, &cbBlob);
    BlobPtr release(pbBlob, std::free);
    return {ok, GetLastError(), ok ? Bytes(pbBlob, pbBlob + cbBlob) : Bytes{}};
}

class ConvertPublicKeyInfo : public testing::Test {
  protected:
    void TearDown() override
    {
        g_initFailure = 0;
        g_allocsToGrant = -1;
        g_allocCount = 0;
    }
};

// Every OpenSSL-made key, each size and parameter set: header, parameters as the certificate
// holds them, the OCTET STRING's contents; a size query gives the same size.
TEST_F(ConvertPublicKeyInfo, CertificateKeysBecomeGostPublicKeyBlobs)
{
    const auto vectors = kvtest::LoadGostKeyVectors();
    ASSERT_EQ(11u, vectors.size());
    for (const auto &v : vectors) {
        SCOPED_TRACE(v.name);
        const Bytes expected = kvtest::GostPublicKeyBlob(
            PUBLICKEYBLOB, 1, kvtest::SignAlgIdOf(v.algorithmOid), v.params, v.rawKey);
        const Converted converted = Convert(kvtest::PublicKeyInfoOf(v));
        ASSERT_TRUE(converted.ok);
        EXPECT_EQ(0x1234u, converted.error); // success leaves the last error alone
        EXPECT_THAT(converted.blob, ElementsAreArray(expected));

        CERT_PUBLIC_KEY_INFO info = kvtest::PublicKeyInfoOf(v);
        DWORD cbQueried = 0;
        ASSERT_TRUE(OrvaConvertPublicKeyInfo(X509_ASN_ENCODING, &info, 0, 0, nullptr, &cbQueried));
        EXPECT_EQ(expected.size(), cbQueried);
    }
    EXPECT_THAT(TraceLines(), IsEmpty());
}

// Certificate keys in the forms the blob layout fixes, the algorithm from CryptoAPI's table,
// and what is refused (keys/convert.txt).
TEST_F(ConvertPublicKeyInfo, Cases)
{
    const CRYPT_OID_INFO added[] = {
        {sizeof(CRYPT_OID_INFO),
         "1.2.643.100.999",
         L"test key",
         CRYPT_PUBKEY_ALG_OID_GROUP_ID,
         {0x1234},
         {}},
        {sizeof(CRYPT_OID_INFO),
         "1.2.643.2.2.19",
         nullptr,
         CRYPT_PUBKEY_ALG_OID_GROUP_ID,
         {0x5678},
         {}},
        {sizeof(CRYPT_OID_INFO),
         "1.2.643.100.998",
         nullptr,
         CRYPT_PUBKEY_ALG_OID_GROUP_ID,
         {CALG_OID_INFO_CNG_ONLY},
         {}},
    };
    for (const CRYPT_OID_INFO &info : added)
        ASSERT_TRUE(CryptRegisterOIDInfo(&info, 0));
    const auto v = kvtest::LoadGostKeyVectors().at(0);
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("keys/convert.txt")) {
        SCOPED_TRACE(c.where);
        std::string oid = c.Get("OID", v.algorithmOid);
        Bytes params = c.Has("Params") ? c.Hex("Params") : v.params;
        Bytes publicKey = c.Has("PublicKey") ? c.Hex("PublicKey") : v.publicKey;
        const CERT_PUBLIC_KEY_INFO info = {
            {oid.data(), kvtest::BlobOf(params)},
            {static_cast<DWORD>(publicKey.size()), publicKey.data(), 0}};
        kvtest::ClearTrace();
        const Converted converted = Convert(info);
        EXPECT_EQ(c.Has("Blob") || c.Has("AlgId"), converted.ok);
        EXPECT_EQ(static_cast<DWORD>(c.Number("Error", "0x1234")), converted.error);
        Bytes expected = c.Hex("Blob");
        if (c.Has("AlgId"))
            expected = kvtest::GostPublicKeyBlob(PUBLICKEYBLOB, 1, ALG_ID(c.Number("AlgId")),
                                                 v.params, v.rawKey);
        EXPECT_EQ(expected, converted.blob);
        if (c.Has("Trace"))
            EXPECT_THAT(TraceLines(), ElementsAre(TraceOf(c.Get("Trace").c_str())));
        else
            EXPECT_THAT(TraceLines(), IsEmpty());
    }
    for (const CRYPT_OID_INFO &info : added)
        EXPECT_TRUE(CryptUnregisterOIDInfo(&info));
}

// The library's own allocations (working copy, result) and the context: each failure has
// its code, and nothing allocated outlives the call (the sanitizer build checks for leaks).
TEST_F(ConvertPublicKeyInfo, ResourceFailures)
{
    const auto v = kvtest::LoadGostKeyVectors().at(0);
    for (int granted : {0, 1}) {
        SCOPED_TRACE(granted);
        g_allocsToGrant = granted;
        g_allocCount = 0;
        const Converted converted = Convert(kvtest::PublicKeyInfoOf(v));
        EXPECT_FALSE(converted.ok);
        EXPECT_EQ(DWORD{CRYPT_E_ASN1_MEMORY}, converted.error);
    }
    EXPECT_THAT(TraceLines(), IsEmpty());
    g_allocsToGrant = -1;

    g_initFailure = ASN_E_NOMEM;
    const Converted converted = Convert(kvtest::PublicKeyInfoOf(v));
    EXPECT_FALSE(converted.ok);
    EXPECT_EQ(DWORD{CRYPT_E_ASN1_INTERNAL}, converted.error);
    EXPECT_THAT(TraceLines(), ElementsAre(TraceOf("rtInitContext")));
}

// Parameters so long that header, parameters and key pass 2^32 bytes: refused as a block that
// cannot be had, in a size query too, instead of counted modulo 2^32 and written past a short
// block. The parameters are an honest mapping of that many zero bytes, never touched.
TEST_F(ConvertPublicKeyInfo, BlobTooLargeForItsSize)
{
    if (sizeof(void *) < 8) GTEST_SKIP() << "a 32-bit process cannot map parameters of 4 GiB";
    const auto v = kvtest::LoadGostKeyVectors().at(0);
    const DWORD cbParameters = UINT32_MAX - 16; // 16 + this + 64 key bytes wraps to 63
    void *pvParameters =
        mmap(nullptr, cbParameters, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(MAP_FAILED, pvParameters);
    const std::unique_ptr<void, std::function<void(void *)>> unmap(
        pvParameters, [&](void *pv) { munmap(pv, cbParameters); });
    CERT_PUBLIC_KEY_INFO info = kvtest::PublicKeyInfoOf(v);
    info.Algorithm.Parameters = {cbParameters, static_cast<BYTE *>(pvParameters)};

    DWORD cbBlob = 0;
    SetLastError(0x1234);
    ASSERT_FALSE(OrvaConvertPublicKeyInfo(X509_ASN_ENCODING, &info, 0, 0, nullptr, &cbBlob))
        << "size " << cbBlob;
    EXPECT_EQ(DWORD{CRYPT_E_ASN1_MEMORY}, GetLastError());
    const Converted converted = Convert(info);
    EXPECT_FALSE(converted.ok);
    EXPECT_EQ(DWORD{CRYPT_E_ASN1_MEMORY}, converted.error);
    EXPECT_THAT(TraceLines(), IsEmpty());
}

TEST_F(ConvertPublicKeyInfo, MalformedArguments)
{
    const auto v = kvtest::LoadGostKeyVectors().at(0);
    CERT_PUBLIC_KEY_INFO info = kvtest::PublicKeyInfoOf(v);
    DWORD cbBlob = 0;
    EXPECT_FALSE(OrvaConvertPublicKeyInfo(X509_ASN_ENCODING, nullptr, 0, 0, nullptr, &cbBlob));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
    EXPECT_FALSE(OrvaConvertPublicKeyInfo(X509_ASN_ENCODING, &info, 0, 0, nullptr, nullptr));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
    info.PublicKey.pbData = nullptr;
    EXPECT_FALSE(OrvaConvertPublicKeyInfo(X509_ASN_ENCODING, &info, 0, 0, nullptr, &cbBlob));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
}

} // namespace

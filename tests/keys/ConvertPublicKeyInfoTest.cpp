// OrvaConvertPublicKeyInfo: certificate public keys made by OpenSSL's GOST engine become the
// provider's GOST PUBLICKEYBLOB, checked byte by byte against the blob layout.
#include "kvext/keys.h"

#include "GostKeyVectors.h"
#include "common/AllocWrap.h"
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

// The layout's fixed points: a 2001 key with 20 bytes of parameters is 100 bytes long, says
// 512 bits and starts its key at 36; without parameters 05 00 stands at 16 and the key at 18;
// a 512-bit key says 1024 bits.
TEST_F(ConvertPublicKeyInfo, BlobLayout)
{
    const auto vectors = kvtest::LoadGostKeyVectors();
    const auto &v2001 = vectors.at(0);
    ASSERT_EQ("gost2001_A", v2001.name);
    ASSERT_EQ(20u, v2001.params.size());
    Converted converted = Convert(kvtest::PublicKeyInfoOf(v2001));
    ASSERT_TRUE(converted.ok);
    ASSERT_EQ(100u, converted.blob.size());
    EXPECT_THAT(Bytes(converted.blob.begin() + 12, converted.blob.begin() + 16),
                ElementsAre(0x00, 0x02, 0x00, 0x00));
    EXPECT_THAT(Bytes(converted.blob.begin() + 36, converted.blob.end()),
                ElementsAreArray(v2001.rawKey));

    CERT_PUBLIC_KEY_INFO noParams = kvtest::PublicKeyInfoOf(v2001);
    noParams.Algorithm.Parameters = {0, nullptr};
    converted = Convert(noParams);
    ASSERT_TRUE(converted.ok);
    ASSERT_EQ(16u + 2 + 64, converted.blob.size());
    EXPECT_THAT(Bytes(converted.blob.begin() + 16, converted.blob.begin() + 18),
                ElementsAre(0x05, 0x00));
    EXPECT_THAT(Bytes(converted.blob.begin() + 18, converted.blob.end()),
                ElementsAreArray(v2001.rawKey));

    const auto &v512 = vectors.at(8);
    ASSERT_EQ("gost2012_512_A", v512.name);
    converted = Convert(kvtest::PublicKeyInfoOf(v512));
    ASSERT_TRUE(converted.ok);
    EXPECT_THAT(Bytes(converted.blob.begin() + 12, converted.blob.begin() + 16),
                ElementsAre(0x00, 0x04, 0x00, 0x00));
}

// aiKeyAlg: the three signature-key OIDs by name, others by CryptoAPI's public-key group.
TEST_F(ConvertPublicKeyInfo, AlgorithmFromTheOidTable)
{
    const CRYPT_OID_INFO added = {sizeof(CRYPT_OID_INFO),        "1.2.643.100.999", L"test key",
                                  CRYPT_PUBKEY_ALG_OID_GROUP_ID, {0x1234},          {}};
    ASSERT_TRUE(CryptRegisterOIDInfo(&added, 0));
    // The table's entries are not consulted for the three compared texts.
    const CRYPT_OID_INFO renumbered = {sizeof(CRYPT_OID_INFO),        "1.2.643.2.2.19", nullptr,
                                       CRYPT_PUBKEY_ALG_OID_GROUP_ID, {0x5678},         {}};
    ASSERT_TRUE(CryptRegisterOIDInfo(&renumbered, 0));
    const struct {
        const char *name;
        const char *oid;
        ALG_ID expected;
    } rows[] = {
        {"2001 signature key", "1.2.643.2.2.19", 0x2E23},
        {"2012 256-bit key", "1.2.643.7.1.1.1.1", 0x2E49},
        {"2012 512-bit key", "1.2.643.7.1.1.1.2", 0x2E3D},
        {"2001 key exchange, by the table", "1.2.643.2.2.98", 0xAA24},
        {"2012 256-bit key exchange, by the table", "1.2.643.7.1.1.6.1", 0xAA46},
        {"an entry added to the table", "1.2.643.100.999", 0x1234},
    };
    const auto v = kvtest::LoadGostKeyVectors().at(0);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        CERT_PUBLIC_KEY_INFO info = kvtest::PublicKeyInfoOf(v);
        info.Algorithm.pszObjId = const_cast<LPSTR>(row.oid);
        const Converted converted = Convert(info);
        ASSERT_TRUE(converted.ok);
        EXPECT_EQ(kvtest::GostPublicKeyBlob(PUBLICKEYBLOB, 1, row.expected, v.params, v.rawKey),
                  converted.blob);
    }
    EXPECT_TRUE(CryptUnregisterOIDInfo(&renumbered));
    EXPECT_TRUE(CryptUnregisterOIDInfo(&added));
}

// OIDs that give no algorithm: unknown to CryptoAPI (its code stands), or known only with
// parameters or only to CNG.
TEST_F(ConvertPublicKeyInfo, RefusedAlgorithms)
{
    const CRYPT_OID_INFO cngOnly = {
        sizeof(CRYPT_OID_INFO),        "1.2.643.100.998",        nullptr,
        CRYPT_PUBKEY_ALG_OID_GROUP_ID, {CALG_OID_INFO_CNG_ONLY}, {}};
    ASSERT_TRUE(CryptRegisterOIDInfo(&cngOnly, 0));
    const struct {
        const char *name;
        const char *oid;
        const char *message;
    } rows[] = {
        {"unknown OID", "1.2.643.100.997", "CryptFindOIDInfo"},
        {"signature OID in another group only", "1.2.643.2.2.21", "CryptFindOIDInfo"},
        {"not dotted decimal", "GOST R 34.10-2001", "CryptFindOIDInfo"},
        {"parameters-only entry", "1.2.840.10045.2.1", "Unknown CNG algorithm."},
        {"CNG-only entry", "1.2.643.100.998", "Unknown CNG algorithm."},
    };
    const auto v = kvtest::LoadGostKeyVectors().at(0);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        kvtest::ClearTrace();
        CERT_PUBLIC_KEY_INFO info = kvtest::PublicKeyInfoOf(v);
        info.Algorithm.pszObjId = const_cast<LPSTR>(row.oid);
        const Converted converted = Convert(info);
        EXPECT_FALSE(converted.ok);
        EXPECT_EQ(0x1234u, converted.error); // no code of the library's own
        EXPECT_THAT(TraceLines(), ElementsAre(TraceOf(row.message)));
    }
    EXPECT_TRUE(CryptUnregisterOIDInfo(&cngOnly));
}

// GostR3410-PublicKey ::= OCTET STRING of 64 or 128 octets, in DER; nothing else passes.
TEST_F(ConvertPublicKeyInfo, MalformedKeysAreRefused)
{
    const auto v = kvtest::LoadGostKeyVectors().at(0);
    auto octets = [](size_t count) {
        Bytes der = {0x04, static_cast<BYTE>(count)};
        der.resize(2 + count, 0x5A);
        return der;
    };
    Bytes longForm96 = {0x04, 0x81, 0x60};
    longForm96.resize(3 + 96, 0x5A);
    Bytes bitStringTag = v.publicKey;
    bitStringTag[0] = 0x03;
    const struct {
        const char *name;
        Bytes publicKey;
    } rows[] = {
        {"32 octets", octets(32)},
        {"96 octets", longForm96},
        {"no octets at all", Bytes{}},
        {"identifier only", Bytes{0x04}},
        {"BIT STRING instead of OCTET STRING", bitStringTag},
        {"announces 129 octets", Bytes{0x04, 0x81, 0x81, 0x00}},
        {"announces 2^31 octets", Bytes{0x04, 0x84, 0x80, 0x00, 0x00, 0x00}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        kvtest::ClearTrace();
        CERT_PUBLIC_KEY_INFO info = kvtest::PublicKeyInfoOf(v);
        info.PublicKey = {static_cast<DWORD>(row.publicKey.size()),
                          const_cast<BYTE *>(row.publicKey.data()), 0};
        const Converted converted = Convert(info);
        EXPECT_FALSE(converted.ok);
        EXPECT_EQ(DWORD{CRYPT_E_ASN1_INTERNAL}, converted.error);
        EXPECT_THAT(TraceLines(), ElementsAre(TraceOf("() asn1D_GostR3410_PublicKey failed")));
    }
}

// An OCTET STRING that announces 64 octets but carries 40 is read from a zero-filled copy
// of 66 bytes, not past the caller's block (the sanitizer build would see that).
TEST_F(ConvertPublicKeyInfo, TruncatedKeyIsReadFromAZeroFilledCopy)
{
    const auto v = kvtest::LoadGostKeyVectors().at(0);
    const auto truncated = std::make_unique<BYTE[]>(2 + 40); // its own heap block
    std::copy_n(v.publicKey.begin(), 2 + 40, truncated.get());
    CERT_PUBLIC_KEY_INFO info = kvtest::PublicKeyInfoOf(v);
    info.PublicKey = {2 + 40, truncated.get(), 0};
    const Converted converted = Convert(info);
    ASSERT_TRUE(converted.ok);
    Bytes rawKey(v.rawKey.begin(), v.rawKey.begin() + 40);
    rawKey.resize(64, 0x00);
    EXPECT_EQ(kvtest::GostPublicKeyBlob(PUBLICKEYBLOB, 1, 0x2E23, v.params, rawKey),
              converted.blob);
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

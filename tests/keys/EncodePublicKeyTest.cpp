// OrvaEncodePublicKeyAndParameters: a provider's GOST public-key blob becomes exactly the
// parameters and GostR3410-PublicKey that OpenSSL's GOST engine wrote for the same key.
#include "keys/ExportPublicKey.h"
#include "kvext/keys.h"

#include "GostKeyVectors.h"
#include "common/FileTest.h"
#include "common/TraceFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

using kvtest::Bytes;
using testing::IsEmpty;

namespace {

struct Encoded {
    BOOL ok;
    DWORD error;
    Bytes key;
    Bytes params;
    bool keyStored;
    bool paramsStored;
};

using EncodeFn = BOOL (*)(const Bytes &blob, BYTE **, DWORD *, BYTE **, DWORD *);

BOOL EncodeExported(const Bytes &blob, BYTE **ppKey, DWORD *pcbKey, BYTE **ppParams,
                    DWORD *pcbParams)
{
    return OrvaEncodePublicKeyAndParameters(
        X509_ASN_ENCODING, nullptr, const_cast<BYTE *>(blob.data()),
        static_cast<DWORD>(blob.size()), 0, nullptr, ppKey, pcbKey, ppParams, pcbParams);
}

// Runs an encoder; whatever it stored is copied out and released with free().
Encoded EncodeBlob(const Bytes &blob, EncodeFn encode = EncodeExported)
{
    BYTE *pbKey = reinterpret_cast<BYTE *>(1); // must come back null or a block
    BYTE *pbParams = reinterpret_cast<BYTE *>(1);
    DWORD cbKey = 0, cbParams = 0;
    SetLastError(0x1234);
    const BOOL ok = encode(blob, &pbKey, &cbKey, &pbParams, &cbParams);
    Encoded result = {ok, GetLastError(), {}, {}, pbKey != nullptr, pbParams != nullptr};
    if (pbKey) result.key.assign(pbKey, pbKey + cbKey);
    if (pbParams) result.params.assign(pbParams, pbParams + cbParams);
    std::free(pbKey);
    std::free(pbParams);
    return result;
}

// Each OpenSSL key, as the provider would export it (PUBLICKEYBLOBEX): the parameters come
// back as the certificate holds them, the key as OpenSSL encoded it.
TEST(EncodePublicKeyAndParameters, GivesWhatOpenSslWrote)
{
    for (const auto &v : kvtest::LoadGostKeyVectors()) {
        SCOPED_TRACE(v.name);
        const Bytes blob = kvtest::GostPublicKeyBlob(
            PUBLICKEYBLOBEX, 0, kvtest::SignAlgIdOf(v.algorithmOid), v.params, v.rawKey);
        const Encoded encoded = EncodeBlob(blob);
        ASSERT_TRUE(encoded.ok);
        EXPECT_EQ(0x1234u, encoded.error);
        EXPECT_EQ(v.params, encoded.params);
        EXPECT_EQ(v.publicKey, encoded.key);
    }
}

// Blobs the encoder refuses (keys/encode-malformed.txt): the parameters are stored, for the
// caller to release, only where the key's size alone is wrong.
TEST(EncodePublicKeyAndParameters, MalformedBlobs)
{
    const auto v = kvtest::LoadGostKeyVectors().at(0);
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("keys/encode-malformed.txt")) {
        SCOPED_TRACE(c.where);
        const Encoded encoded = EncodeBlob(c.Hex("Blob"));
        EXPECT_FALSE(encoded.ok);
        EXPECT_FALSE(encoded.keyStored);
        EXPECT_EQ(c.Has("ParamsStored"), encoded.paramsStored);
        EXPECT_EQ(c.Has("ParamsStored") ? v.params : Bytes{}, encoded.params);
    }
    EXPECT_THAT(kvtest::TraceLines(), IsEmpty()); // this part traces nothing
}

// The allocator argument: its failure is the call's, with its code and no other; a block
// already stored stays with the caller.
int g_allocsToGrant = 0;
LPVOID WINAPI CountingAlloc(size_t cb)
{
    if (g_allocsToGrant-- <= 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return std::malloc(cb);
}
BOOL EncodeWithCountingAlloc(const Bytes &blob, BYTE **ppKey, DWORD *pcbKey, BYTE **ppParams,
                             DWORD *pcbParams)
{
    return OrvaEncodePublicKeyAndParametersEx(X509_ASN_ENCODING, nullptr, blob.data(),
                                              static_cast<DWORD>(blob.size()), 0, nullptr, ppKey,
                                              pcbKey, ppParams, pcbParams, CountingAlloc);
}

TEST(EncodePublicKeyAndParameters, AllocatorFailures)
{
    const auto v = kvtest::LoadGostKeyVectors().at(8); // a 512-bit key
    const Bytes blob = kvtest::GostPublicKeyBlob(PUBLICKEYBLOBEX, 0, 0xAA42, v.params, v.rawKey);
    for (int granted : {0, 1}) {
        SCOPED_TRACE(granted);
        g_allocsToGrant = granted;
        const Encoded encoded = EncodeBlob(blob, EncodeWithCountingAlloc);
        EXPECT_FALSE(encoded.ok);
        EXPECT_EQ(DWORD{ERROR_NOT_ENOUGH_MEMORY}, encoded.error);
        EXPECT_FALSE(encoded.keyStored);
        EXPECT_EQ(granted == 1, encoded.paramsStored);
    }
    g_allocsToGrant = 2;
    const Encoded encoded = EncodeBlob(blob, EncodeWithCountingAlloc);
    ASSERT_TRUE(encoded.ok);
    EXPECT_EQ(v.publicKey, encoded.key);
}

} // namespace

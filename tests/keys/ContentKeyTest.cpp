// The content-encryption key of an enveloped message: a GOST 28147-89 key of the provider and
// the Gost28147-89-Parameters that carry its IV and cipher parameter set.

#include "CmsTestSupport.h"

using kvtest::Bytes;
using kvtest::BytesOf;
using kvtest::CallerMemory;
using kvtest::Cat;
using kvtest::Der;
using kvtest::kUntouched;
using testing::IsEmpty;

namespace {

Bytes KeyParam(HCRYPTKEY hKey, DWORD dwParam)
{
    Bytes value(128);
    DWORD cb = static_cast<DWORD>(value.size());
    EXPECT_TRUE(CryptGetKeyParam(hKey, dwParam, value.data(), &cb, 0));
    value.resize(cb);
    return value;
}

using ContentKey = kvtest::CmsTest;

// The parameters are SEQUENCE { OCTET STRING <the key's IV>, OID <its parameter set> }, in a
// block of the caller's allocator flagged for release; the key is the only one left.
TEST_F(ContentKey, KeyAndParameters)
{
    const kvtest::KeyWatch watch(*hSender_);
    kvtest::ContentKey key;
    const kvtest::Outcome made = kvtest::MakeContentKey(*hSender_, &key);
    ASSERT_TRUE(made.ok);
    const kvtest::ScopedKey &hKey = key.hKey;
    watch.ExpectOnlyAlive({*hKey});
    EXPECT_EQ(kUntouched, made.error);
    EXPECT_EQ(*hSender_, key.info.hCryptProv);
    EXPECT_EQ(DWORD{CMSG_CONTENT_ENCRYPT_FREE_PARA_FLAG}, key.info.dwFlags);

    EXPECT_STREQ("1.2.643.2.2.31.1", // the provider's default
                 reinterpret_cast<const char *>(KeyParam(*hKey, KP_GOST_CIPHER_PARAMSET).data()));
    const Bytes expected =
        Der(0x30, Cat({Der(0x04, KeyParam(*hKey, KP_IV)), kvtest::DerOid("1.2.643.2.2.31.1")}));
    const CRYPT_OBJID_BLOB &parameters = key.info.ContentEncryptionAlgorithm.Parameters;
    EXPECT_EQ(expected, BytesOf(parameters));
    EXPECT_EQ(1u, CallerMemory::live.count(parameters.pbData));
    EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
}

// Any OID CryptoAPI lists as an encryption algorithm gives a GOST 28147-89 key; any other is
// refused before a provider is acquired, with nothing traced and no code of the library's.
TEST_F(ContentKey, EncryptionAlgorithmOid)
{
    CRYPT_OID_INFO tripleDes{};
    tripleDes.pszOID = "1.2.840.113549.3.7";
    tripleDes.dwGroupId = CRYPT_ENCRYPT_ALG_OID_GROUP_ID;
    tripleDes.Algid = 0x6603;
    ASSERT_TRUE(CryptRegisterOIDInfo(&tripleDes, 0));
    for (const char *oid : {kvtest::kGost28147Oid, "1.2.840.113549.3.7"}) {
        SCOPED_TRACE(oid);
        kvtest::ContentKey key;
        ASSERT_TRUE(kvtest::MakeContentKey(*hSender_, &key, oid).ok);
        const Bytes algId = KeyParam(*key.hKey, KP_ALGID);
        ASSERT_EQ(sizeof(ALG_ID), algId.size());
        EXPECT_EQ(ALG_GOST_28147, algId[0] | algId[1] << 8);
    }
    CallerMemory::Reset();
    for (const char *oid :
         {"1.2.643.2.2.19", "1.2.643.2.2.21.1", static_cast<const char *>(nullptr)}) {
        SCOPED_TRACE(oid ? oid : "null");
        kvtest::ContentKey key;
        const kvtest::Outcome made = kvtest::MakeContentKey(0, &key, oid);
        const CMSG_CONTENT_ENCRYPT_INFO &generated = key.info;
        EXPECT_FALSE(made.ok);
        EXPECT_EQ(kUntouched, made.error);
        EXPECT_EQ(0u, generated.hCryptProv);
        EXPECT_EQ(0u, generated.hContentEncryptKey);
        EXPECT_EQ(0u, generated.dwFlags);
    }
    EXPECT_THAT(CallerMemory::live, IsEmpty());
    EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
    EXPECT_TRUE(CryptUnregisterOIDInfo(&tripleDes));
}

// A failing provider or allocator: its code, no key left, and an acquired provider stays in the
// structure with its flag for CryptoAPI to release.
TEST_F(ContentKey, FailuresKeepTheirCodes)
{
    HCRYPTPROV hReleased = 0;
    ASSERT_TRUE(
        CryptAcquireContextA(&hReleased, nullptr, nullptr, kvtest::kProvGost, CRYPT_VERIFYCONTEXT));
    ASSERT_TRUE(CryptReleaseContext(hReleased, 0));
    struct Row {
        const char *name;
        HCRYPTPROV hProv;
        int failAlloc;
        DWORD error, flags;
    } rows[] = {
        {"released provider", hReleased, 0, NTE_BAD_UID, 0},
        {"allocator fails", *hSender_, 1, CallerMemory::kAllocError, 0},
        {"allocator fails, provider acquired", 0, 1, CallerMemory::kAllocError,
         CMSG_CONTENT_ENCRYPT_RELEASE_CONTEXT_FLAG},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CallerMemory::Reset(row.failAlloc);
        const kvtest::KeyWatch watch(*hSender_);
        kvtest::ContentKey key;
        const kvtest::Outcome made = kvtest::MakeContentKey(row.hProv, &key);
        const CMSG_CONTENT_ENCRYPT_INFO &generated = key.info;
        watch.ExpectOnlyAlive({});
        EXPECT_FALSE(made.ok);
        EXPECT_EQ(row.error, made.error);
        EXPECT_EQ(0u, generated.hContentEncryptKey);
        EXPECT_EQ(row.flags, generated.dwFlags);
        EXPECT_EQ(nullptr, generated.ContentEncryptionAlgorithm.Parameters.pbData);
        if (!row.hProv) {
            EXPECT_NE(0u, generated.hCryptProv);
            CryptReleaseContext(generated.hCryptProv, 0);
        }
    }
    EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
}

} // namespace

#include "wincrypt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

PCCRYPT_OID_INFO FindByOid(const char *oid, DWORD group)
{
    return CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char *>(oid), group);
}

PCCRYPT_OID_INFO FindByAlgid(ALG_ID algid, DWORD group)
{
    return CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &algid, group);
}

TEST(CryptFindOIDInfo, MissesGiveNull)
{
    const ALG_ID ephemeral2001 = 0xAA25;
    SetLastError(0x1234);
    EXPECT_EQ(nullptr, FindByOid("1.2.643.2.2.19", CRYPT_ENCRYPT_ALG_OID_GROUP_ID));
    EXPECT_EQ(nullptr, FindByOid("1.2.643.2.2.21", CRYPT_PUBKEY_ALG_OID_GROUP_ID));
    EXPECT_EQ(nullptr, FindByOid("1.2.643.2.2", 0));     // a prefix is not a match
    EXPECT_EQ(nullptr, FindByOid("1.2.643.2.2.190", 0)); // nor is a longer text
    EXPECT_EQ(nullptr, FindByOid("1.2.643.100.112", 0));
    EXPECT_EQ(nullptr, FindByAlgid(ephemeral2001, 0));
    EXPECT_EQ(nullptr, FindByAlgid(0x661E, CRYPT_PUBKEY_ALG_OID_GROUP_ID));
    EXPECT_EQ(nullptr, CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, nullptr, 0));
    EXPECT_EQ(nullptr, CryptFindOIDInfo(CRYPT_OID_INFO_SIGN_KEY, const_cast<char *>("x"), 0));
    EXPECT_EQ(0x1234u, GetLastError()); // a miss sets no error
}

TEST(CryptFindOIDInfo, ByNameIgnoresCase)
{
    const PCCRYPT_OID_INFO info =
        CryptFindOIDInfo(CRYPT_OID_INFO_NAME_KEY, const_cast<wchar_t *>(L"SHA256"), 0);
    ASSERT_NE(nullptr, info);
    EXPECT_STREQ("2.16.840.1.101.3.4.2.1", info->pszOID);
}

// Every test of the table takes back what it registered.
TEST(OidInfoTable, AddedEntryIsACopy)
{
    std::string oid = "1.2.3.4.5";
    std::wstring name = L"test algorithm";
    BYTE extra[] = {1, 2, 3};
    CRYPT_OID_INFO entry = {};
    entry.pszOID = oid.c_str();
    entry.pwszName = name.c_str();
    entry.dwGroupId = CRYPT_PUBKEY_ALG_OID_GROUP_ID;
    entry.Algid = CALG_OID_INFO_CNG_ONLY;
    entry.ExtraInfo = {sizeof extra, extra};
    ASSERT_TRUE(CryptRegisterOIDInfo(&entry, 0));
    oid[0] = '9';
    name[0] = L'X';
    extra[0] = 9;

    const PCCRYPT_OID_INFO info = FindByOid("1.2.3.4.5", CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(sizeof(CRYPT_OID_INFO), info->cbSize);
    EXPECT_STREQ(L"test algorithm", info->pwszName);
    EXPECT_EQ(CALG_OID_INFO_CNG_ONLY, info->Algid);
    ASSERT_EQ(3u, info->ExtraInfo.cbData);
    EXPECT_EQ(0, std::memcmp(info->ExtraInfo.pbData, "\x01\x02\x03", 3));
    EXPECT_TRUE(CryptUnregisterOIDInfo(info));
}

// Registering an entry of a built-in key hides the built-in one from every kind of lookup until
// it is unregistered; a pointer obtained before stays readable.
TEST(OidInfoTable, ReplacedEntryHidesTheOldOne)
{
    const PCCRYPT_OID_INFO before = FindByOid("1.2.643.2.2.19", CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    ASSERT_NE(nullptr, before);
    CRYPT_OID_INFO entry = *before;
    entry.Algid = CALG_OID_INFO_PARAMETERS;
    ASSERT_TRUE(CryptRegisterOIDInfo(&entry, 0));

    const PCCRYPT_OID_INFO after = FindByOid("1.2.643.2.2.19", CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    ASSERT_NE(nullptr, after);
    EXPECT_EQ(CALG_OID_INFO_PARAMETERS, after->Algid);
    EXPECT_EQ(nullptr, FindByAlgid(0x2E23, 0));
    EXPECT_EQ(0x2E23u, before->Algid);

    ASSERT_TRUE(CryptUnregisterOIDInfo(&entry));
    EXPECT_EQ(before, FindByAlgid(0x2E23, CRYPT_PUBKEY_ALG_OID_GROUP_ID));
    EXPECT_EQ(CALG_OID_INFO_PARAMETERS, after->Algid);
}

// An unregistered entry is not found; built-in entries cannot be unregistered.
TEST(OidInfoTable, UnregisteredEntryIsNotFound)
{
    CRYPT_OID_INFO entry = {};
    entry.pszOID = "1.2.3.4.6";
    entry.dwGroupId = CRYPT_ENCRYPT_ALG_OID_GROUP_ID;
    ASSERT_TRUE(CryptRegisterOIDInfo(&entry, CRYPT_INSTALL_OID_INFO_BEFORE_FLAG));
    ASSERT_TRUE(CryptUnregisterOIDInfo(&entry));
    EXPECT_EQ(nullptr, FindByOid("1.2.3.4.6", 0));
    for (const char *oid : {"1.2.3.4.6", "1.2.643.2.2.21"}) {
        entry.pszOID = oid;
        SetLastError(0);
        EXPECT_FALSE(CryptUnregisterOIDInfo(&entry));
        EXPECT_EQ(CRYPT_E_NOT_FOUND, GetLastError());
    }
    EXPECT_NE(nullptr, FindByOid("1.2.643.2.2.21", 0));
}

TEST(OidInfoTable, RegisterRejectsMissingOid)
{
    CRYPT_OID_INFO noOid = {};
    SetLastError(0);
    EXPECT_FALSE(CryptRegisterOIDInfo(&noOid, 0));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
    SetLastError(0);
    EXPECT_FALSE(CryptRegisterOIDInfo(nullptr, 0));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
}

// Lookups keep answering while other threads replace entries (run under the sanitizers).
TEST(OidInfoTable, ConcurrentLookupsAndChanges)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            const std::string oid = "1.2.3." + std::to_string(t);
            for (DWORD i = 0; i < 500; ++i) {
                CRYPT_OID_INFO entry = {};
                entry.pszOID = oid.c_str();
                entry.dwGroupId = CRYPT_HASH_ALG_OID_GROUP_ID;
                entry.Algid = i;
                ASSERT_TRUE(CryptRegisterOIDInfo(&entry, 0));
                const PCCRYPT_OID_INFO mine = FindByOid(oid.c_str(), 0);
                ASSERT_NE(nullptr, mine);
                ASSERT_EQ(i, mine->Algid); // only this thread writes this OID
                ASSERT_NE(nullptr, FindByOid("1.2.643.2.2.19", CRYPT_PUBKEY_ALG_OID_GROUP_ID));
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (const char *oid : {"1.2.3.0", "1.2.3.1", "1.2.3.2", "1.2.3.3"}) {
        const CRYPT_OID_INFO entry = {sizeof entry, oid, nullptr, CRYPT_HASH_ALG_OID_GROUP_ID,
                                      {},           {}};
        EXPECT_TRUE(CryptUnregisterOIDInfo(&entry));
    }
}

} // namespace

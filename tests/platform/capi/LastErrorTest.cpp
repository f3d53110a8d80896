#include "wincrypt.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(LastError, KeptPerThread)
{
    SetLastError(0x1234);
    DWORD seenByNewThread = 0xFFFFFFFF, seenAfterSet = 0;
    std::thread other([&] {
        seenByNewThread = GetLastError();
        SetLastError(0x5678);
        seenAfterSet = GetLastError();
    });
    other.join();
    EXPECT_EQ(0u, seenByNewThread); // a new thread starts with no error
    EXPECT_EQ(0x5678u, seenAfterSet);
    EXPECT_EQ(0x1234u, GetLastError()); // the other thread's value did not leak here
}

// Every service of the library answers success without touching an earlier error.
TEST(LastError, SuccessLeavesItAlone)
{
    const FILETIME zero = {};
    SYSTEMTIME st;
    FILETIME ft;
    wchar_t wide[4];
    char narrow[4];
    const BYTE one = 1;
    const CRYPT_INTEGER_BLOB blob = {1, const_cast<BYTE *>(&one)};
    const BYTE der[] = {0x02, 0x01, 0x01};
    DWORD cb = 0;
    ALG_ID sha1 = CALG_SHA1;

    SetLastError(0xDEADBEEF);
    EXPECT_TRUE(FileTimeToSystemTime(&zero, &st));
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    EXPECT_EQ(3, MultiByteToWideChar(CP_UTF8, 0, "ab", -1, wide, 4));
    EXPECT_EQ(3, WideCharToMultiByte(CP_UTF8, 0, L"ab", -1, narrow, 4, nullptr, nullptr));
    EXPECT_TRUE(CryptEncodeObject(X509_ASN_ENCODING, X509_MULTI_BYTE_INTEGER, &blob, nullptr, &cb));
    EXPECT_TRUE(CryptDecodeObject(X509_ASN_ENCODING, X509_MULTI_BYTE_INTEGER, der, sizeof der, 0,
                                  nullptr, &cb));
    EXPECT_NE(nullptr, CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &sha1, 0));
    EXPECT_EQ(nullptr, CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char *>("1.2.3"), 0));
    EXPECT_EQ(0xDEADBEEFu, GetLastError());
}

} // namespace

// The OID-function registry and the encode/decode dispatch on it, with the built library
// (KV_TEST_LIBKVEXT) as the registered module and OpenSSL-made DER (tests/data/codecs).
#include "common/TraceFile.h"
#include "wincrypt.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testing::ElementsAre;
using testing::HasSubstr;

constexpr DWORD kAsnEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr char kDeriveCounterOid[] = "1.2.643.2.2.37.3.6";
const std::string kLibrary = KV_TEST_LIBKVEXT;

// Each test gets a registration file of its own in a fresh directory.
class OidFunctions : public testing::Test {
  protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kvcapi-XXXXXX").string();
        ASSERT_NE(nullptr, mkdtemp(pattern.data()));
        dir_ = pattern;
        path_ = (dir_ / "etc" / "kvext" / "oidfunc.conf").string();
        setenv("KV_OIDFUNC_REGISTRY", path_.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("KV_OIDFUNC_REGISTRY");
        std::filesystem::remove_all(dir_);
    }

    // Writes the file with "@LIB@" standing for the built library.
    void WriteRegistry(std::string text) const
    {
        for (size_t at; (at = text.find("@LIB@")) != std::string::npos;)
            text.replace(at, 5, kLibrary);
        std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
        std::ofstream(path_) << text;
    }
    std::string ReadRegistry() const
    {
        std::ostringstream text;
        text << std::ifstream(path_).rdbuf();
        return text.str();
    }

    std::filesystem::path dir_;
    std::string path_;
};

// The counter 128 as OpenSSL wrote it, decoded in the form `call` asks for.
enum class Call { ExAlloc, Plain };
DWORD DecodeDeriveCounter(Call call, LPCSTR type)
{
    const std::vector<BYTE> der = kvtest::ReadDataFile("codecs/derive_counter_128.der");
    const auto cb = static_cast<DWORD>(der.size());
    DWORD counter = 0xFFFFFFFF;
    DWORD cbOut = 0;
    if (call == Call::ExAlloc) {
        BYTE *block = nullptr;
        if (CryptDecodeObjectEx(kAsnEncoding, type, der.data(), cb, CRYPT_DECODE_ALLOC_FLAG,
                                nullptr, &block, &cbOut)) {
            std::memcpy(&counter, block, sizeof counter);
            LocalFree(block);
        }
        return counter;
    }
    if (!CryptDecodeObject(kAsnEncoding, type, der.data(), cb, 0, nullptr, &cbOut)) return counter;
    std::vector<BYTE> out(cbOut);
    if (CryptDecodeObject(kAsnEncoding, type, der.data(), cb, 0, out.data(), &cbOut))
        std::memcpy(&counter, out.data(), sizeof counter);
    return counter;
}

// One registration of the counter's decoder and a way of asking for it; each must reach it.
struct DispatchCase {
    const char *name;
    const char *registry;
    Call call;
    LPCSTR type;
};
const DispatchCase kDispatch[] = {
    {"exServesEx",
     "CryptDllDecodeObjectEx 1 1.2.643.2.2.37.3.6 @LIB@ OrvaDllPrivateKeyDeriveCounterDecodeEx\n",
     Call::ExAlloc, kDeriveCounterOid},
    {"plainServesExInAllocationMode",
     "CryptDllDecodeObject 0x1 1.2.643.2.2.37.3.6 @LIB@ OrvaDllPrivateKeyDeriveCounterDecode\n",
     Call::ExAlloc, kDeriveCounterOid},
    {"exServesPlain",
     "# comment\n\ncryptdlldecodeobjectex 1 1.2.643.2.2.37.3.6 @LIB@ "
     "OrvaDllPrivateKeyDeriveCounterDecodeEx\n",
     Call::Plain, kDeriveCounterOid},
    {"numericStructureType",
     "CryptDllDecodeObjectEx\t1\t#500\t@LIB@\tOrvaDllPrivateKeyDeriveCounterDecodeEx\n",
     Call::ExAlloc, reinterpret_cast<LPCSTR>(500)},
};

TEST_F(OidFunctions, DecodeReachesTheRegisteredFunction)
{
    for (const DispatchCase &row : kDispatch) {
        SCOPED_TRACE(row.name);
        WriteRegistry(row.registry);
        EXPECT_EQ(128u, DecodeDeriveCounter(row.call, row.type));
    }
}

// A registration of the plain form only, asked for in allocation mode: the DER OpenSSL wrote.
TEST_F(OidFunctions, EncodeThroughPlainFunctionInAllocationMode)
{
    WriteRegistry("CryptDllEncodeObject 1 2.5.29.16 @LIB@ OrvaDllPrivateKeyUsagePeriodEncode\n");
    SYSTEMTIME from = {2010, 3, 1, 1, 10, 11, 12, 0}, to = {2049, 12, 5, 31, 23, 59, 59, 0};
    FILETIME notBefore{}, notAfter{};
    ASSERT_TRUE(SystemTimeToFileTime(&from, &notBefore) && SystemTimeToFileTime(&to, &notAfter));
    FILETIME *period[2] = {&notBefore, &notAfter}; // KVCERT_PRIVATE_KEY_USAGE_PERIOD
    BYTE *der = nullptr;
    DWORD cb = 0;
    ASSERT_TRUE(CryptEncodeObjectEx(kAsnEncoding, szOID_PRIVATEKEY_USAGE_PERIOD, period,
                                    CRYPT_ENCODE_ALLOC_FLAG, nullptr, &der, &cb));
    EXPECT_EQ(kvtest::ReadDataFile("codecs/pkup_ext.der"), std::vector<BYTE>(der, der + cb));
    LocalFree(der);
}

// Registrations that do not give a working function, and what the caller sees.
struct FailureCase {
    const char *name;
    const char *registry; // null: no file at all
    DWORD error;
    const char *trace;
};
const FailureCase kFailures[] = {
    {"missingFile", nullptr, ERROR_FILE_NOT_FOUND,
     "no function registered for 1.2.643.2.2.37.3.6, encoding type 0x10001"},
    {"unregisteredOid",
     "CryptDllDecodeObjectEx 1 2.5.29.16 @LIB@ OrvaDllPrivateKeyUsagePeriodDecodeEx\n",
     ERROR_FILE_NOT_FOUND, "no function registered for 1.2.643.2.2.37.3.6"},
    {"otherEncodingType",
     "CryptDllDecodeObjectEx 2 1.2.643.2.2.37.3.6 @LIB@ OrvaDllPrivateKeyDeriveCounterDecodeEx\n",
     ERROR_FILE_NOT_FOUND, "no function registered"},
    {"missingLibrary",
     "CryptDllDecodeObjectEx 1 1.2.643.2.2.37.3.6 /nonexistent/libnone.so.1 OrvaDllX\n",
     ERROR_MOD_NOT_FOUND, "Cannot load /nonexistent/libnone.so.1"},
    {"missingEntryPoint",
     "CryptDllDecodeObjectEx 1 1.2.643.2.2.37.3.6 @LIB@ OrvaDllNoSuchDecodeEx\n",
     ERROR_PROC_NOT_FOUND, "Entry point OrvaDllNoSuchDecodeEx not found"},
    {"lineWithFourFields", "# comment\nCryptDllDecodeObjectEx 1 1.2.643.2.2.37.3.6 @LIB@\n",
     ERROR_BADDB, "line 2: expected 5 fields, found 4"},
    {"badEncodingType", "CryptDllDecodeObjectEx x1 1.2.643.2.2.37.3.6 @LIB@ OrvaDllX\n",
     ERROR_BADDB, "line 1: bad encoding type \"x1\""},
    {"badOid", "CryptDllDecodeObjectEx 1 1..2 @LIB@ OrvaDllX\n", ERROR_BADDB,
     "line 1: bad OID \"1..2\""},
};

TEST_F(OidFunctions, FailuresGiveTheHostsErrorAndOneTraceLine)
{
    for (const FailureCase &row : kFailures) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(path_);
        if (row.registry) WriteRegistry(row.registry);
        kvtest::ClearTrace();
        EXPECT_EQ(0xFFFFFFFFu, DecodeDeriveCounter(Call::ExAlloc, kDeriveCounterOid));
        EXPECT_EQ(row.error, GetLastError());
        EXPECT_THAT(kvtest::TraceLines(), ElementsAre(HasSubstr(row.trace)));

        int stale = 0;
        void *function = &stale; // both must be cleared
        HCRYPTOIDFUNCADDR address = &stale;
        EXPECT_FALSE(
            CryptGetOIDFunctionAddress(CryptInitOIDFunctionSet(CRYPT_OID_DECODE_OBJECT_EX_FUNC, 0),
                                       kAsnEncoding, kDeriveCounterOid, 0, &function, &address));
        EXPECT_EQ(row.error, GetLastError());
        EXPECT_EQ(nullptr, function);
        EXPECT_EQ(nullptr, address);
    }
}

TEST_F(OidFunctions, RegisterAndUnregisterRoundTrip)
{
    const std::wstring library(kLibrary.begin(), kLibrary.end());
    const LPCSTR set = CRYPT_OID_DECODE_OBJECT_EX_FUNC;
    const auto numeric = reinterpret_cast<LPCSTR>(500);
    ASSERT_TRUE(CryptRegisterOIDFunction(kAsnEncoding, set, kDeriveCounterOid, library.c_str(),
                                         "OrvaDllNoSuchDecodeEx"));
    ASSERT_TRUE(CryptRegisterOIDFunction(PKCS_7_ASN_ENCODING, set, numeric, library.c_str(),
                                         nullptr)); // entry point named after the set
    // Registering again replaces the line in place.
    ASSERT_TRUE(CryptRegisterOIDFunction(kAsnEncoding, set, kDeriveCounterOid, library.c_str(),
                                         "OrvaDllPrivateKeyDeriveCounterDecodeEx"));
    EXPECT_TRUE(CryptRegisterOIDFunction(kAsnEncoding, set, "2.5", nullptr, nullptr));
    EXPECT_EQ("# OID functions: <function set> <encoding type> <OID or #type> <library> "
              "<entry point>\n"
              "CryptDllDecodeObjectEx 1 1.2.643.2.2.37.3.6 " +
                  kLibrary + " OrvaDllPrivateKeyDeriveCounterDecodeEx\n" +
                  "CryptDllDecodeObjectEx 1 #500 " + kLibrary + " CryptDllDecodeObjectEx\n",
              ReadRegistry());
    EXPECT_EQ(128u, DecodeDeriveCounter(Call::ExAlloc, kDeriveCounterOid));

    EXPECT_TRUE(CryptUnregisterOIDFunction(X509_ASN_ENCODING, set, numeric));
    EXPECT_FALSE(CryptUnregisterOIDFunction(X509_ASN_ENCODING, set, numeric));
    EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, GetLastError());
    EXPECT_TRUE(CryptUnregisterOIDFunction(X509_ASN_ENCODING, set, kDeriveCounterOid));
    EXPECT_EQ(0xFFFFFFFFu, DecodeDeriveCounter(Call::ExAlloc, kDeriveCounterOid));
    EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, GetLastError());

    EXPECT_FALSE(CryptRegisterOIDFunction(kAsnEncoding, nullptr, "2.5", library.c_str(), nullptr));
    EXPECT_EQ(E_INVALIDARG, GetLastError());
}

} // namespace

// The OID-function registry and the encode/decode and public-key dispatch on it, with the built
// library (KV_TEST_LIBKVEXT) as the registered module and OpenSSL-made DER (tests/data/codecs,
// tests/data/csp); the registration files of tests/data/capi/oidfunc.txt.
#include "common/FileTest.h"
#include "common/TraceFile.h"
#include "gostcsp.h"
#include "wincrypt.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

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

using Bytes = std::vector<BYTE>;
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

struct PublicKeyParts {
    std::string oid;
    Bytes params; // the algorithm parameters' TLV
    Bytes key;    // the bit string's contents
};

PublicKeyParts PartsByOpenSsl(const Bytes &spki)
{
    const unsigned char *cursor = spki.data();
    X509_PUBKEY *pub = d2i_X509_PUBKEY(nullptr, &cursor, static_cast<long>(spki.size()));
    ASN1_OBJECT *algorithm = nullptr;
    const unsigned char *key = nullptr;
    int cbKey = 0;
    X509_ALGOR *algorithmId = nullptr;
    X509_PUBKEY_get0_param(&algorithm, &key, &cbKey, &algorithmId, pub);
    char oid[128];
    OBJ_obj2txt(oid, sizeof oid, algorithm, 1);
    int type = 0;
    const void *value = nullptr;
    X509_ALGOR_get0(nullptr, &type, &value, algorithmId);
    const auto *params = static_cast<const ASN1_STRING *>(value); // a SEQUENCE's whole TLV
    PublicKeyParts parts{oid, Bytes(params->data, params->data + params->length),
                         Bytes(key, key + cbKey)};
    X509_PUBKEY_free(pub);
    return parts;
}

Bytes PublicBlob(HCRYPTKEY hKey)
{
    DWORD cb = 0;
    EXPECT_TRUE(CryptExportKey(hKey, 0, PUBLICKEYBLOB, 0, nullptr, &cb));
    Bytes blob(cb);
    EXPECT_TRUE(CryptExportKey(hKey, 0, PUBLICKEYBLOB, 0, blob.data(), &cb));
    return blob;
}

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

// The registrations of tests/data/capi/oidfunc.txt: those that reach the counter's decoder, and
// those that do not give a working function, with what the caller sees.
TEST_F(OidFunctions, DecodeThroughRegistrations)
{
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("capi/oidfunc.txt")) {
        SCOPED_TRACE(c.where);
        std::filesystem::remove(path_);
        std::string registry = c.Get("Registry", "");
        for (const auto &[escape, character] : {std::pair{"\\n", "\n"}, {"\\t", "\t"}})
            for (size_t at; (at = registry.find(escape)) != std::string::npos;)
                registry.replace(at, 2, character);
        if (c.Has("Registry")) WriteRegistry(registry);
        const std::string type = c.Get("Type", kDeriveCounterOid);
        if (!c.Has("Error")) {
            EXPECT_EQ(128u,
                      DecodeDeriveCounter(c.Get("Call") == "ex" ? Call::ExAlloc : Call::Plain,
                                          type.starts_with("#")
                                              ? reinterpret_cast<LPCSTR>(std::stoul(type.substr(1)))
                                              : type.c_str()));
            continue;
        }
        const DWORD error = static_cast<DWORD>(c.Number("Error"));
        kvtest::ClearTrace();
        EXPECT_EQ(0xFFFFFFFFu, DecodeDeriveCounter(Call::ExAlloc, kDeriveCounterOid));
        EXPECT_EQ(error, GetLastError());
        EXPECT_THAT(kvtest::TraceLines(), ElementsAre(HasSubstr(c.Get("Trace"))));

        int stale = 0;
        void *function = &stale; // both must be cleared
        HCRYPTOIDFUNCADDR address = &stale;
        EXPECT_FALSE(
            CryptGetOIDFunctionAddress(CryptInitOIDFunctionSet(CRYPT_OID_DECODE_OBJECT_EX_FUNC, 0),
                                       kAsnEncoding, kDeriveCounterOid, 0, &function, &address));
        EXPECT_EQ(error, GetLastError());
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

// Public keys through the registered functions and the platform's provider: a container's key
// exports as the SubjectPublicKeyInfo OpenSSL wrote for it (tests/data/csp/<key>.pub.der, read
// back with OpenSSL), and that SubjectPublicKeyInfo imports as the container's own public key.
TEST_F(OidFunctions, PublicKeysAgreeWithOpenSsl)
{
    std::string registry;
    for (const char *oid : {"1.2.643.2.2.19", "1.2.643.7.1.1.1.1", "1.2.643.7.1.1.1.2"})
        registry += std::string("CryptDllConvertPublicKeyInfo 1 ") + oid +
                    " @LIB@ OrvaConvertPublicKeyInfo\nCryptDllExportPublicKeyInfoEx 1 " + oid +
                    " @LIB@ OrvaDllExportPublicKeyInfoEx\n";
    WriteRegistry(registry);
    for (const char *name : {"gost2001-A-1", "gost2012_256-A-1", "gost2012_512-A-1"}) {
        SCOPED_TRACE(name);
        PublicKeyParts want =
            PartsByOpenSsl(kvtest::ReadDataFile(std::string("csp/") + name + ".pub.der"));
        HCRYPTPROV hProv = 0;
        const std::string container = kvtest::DataPath(std::string("csp/") + name + ".pem");
        ASSERT_TRUE(CryptAcquireContextA(&hProv, container.c_str(), nullptr, KV_PROV_GOST, 0));

        // No OID given: the one CryptoAPI lists for the algorithm the provider names.
        DWORD cb = 0;
        ASSERT_TRUE(CryptExportPublicKeyInfoEx(hProv, AT_KEYEXCHANGE, kAsnEncoding, nullptr, 0,
                                               nullptr, nullptr, &cb));
        std::vector<BYTE> block(cb);
        auto *info = reinterpret_cast<CERT_PUBLIC_KEY_INFO *>(block.data());
        ASSERT_TRUE(CryptExportPublicKeyInfoEx(hProv, AT_KEYEXCHANGE, kAsnEncoding, nullptr, 0,
                                               nullptr, info, &cb));
        EXPECT_EQ(want.oid, info->Algorithm.pszObjId);
        const BYTE *params = info->Algorithm.Parameters.pbData;
        EXPECT_EQ(want.params, Bytes(params, params + info->Algorithm.Parameters.cbData));
        EXPECT_EQ(want.key,
                  Bytes(info->PublicKey.pbData, info->PublicKey.pbData + info->PublicKey.cbData));

        CERT_PUBLIC_KEY_INFO given = {
            {want.oid.data(),
             {static_cast<DWORD>(want.params.size()), const_cast<BYTE *>(want.params.data())}},
            {static_cast<DWORD>(want.key.size()), const_cast<BYTE *>(want.key.data()), 0}};
        HCRYPTKEY hImported = 0, hOwn = 0;
        ASSERT_TRUE(
            CryptImportPublicKeyInfoEx(hProv, kAsnEncoding, &given, 0, 0, nullptr, &hImported));
        ASSERT_TRUE(CryptGetUserKey(hProv, AT_KEYEXCHANGE, &hOwn));
        EXPECT_EQ(PublicBlob(hOwn), PublicBlob(hImported));
        CryptDestroyKey(hImported);
        CryptDestroyKey(hOwn);

        // An algorithm nothing is registered for.
        given.Algorithm.pszObjId = const_cast<char *>("1.2.840.113549.1.1.1");
        kvtest::ClearTrace();
        EXPECT_FALSE(
            CryptImportPublicKeyInfoEx(hProv, kAsnEncoding, &given, 0, 0, nullptr, &hImported));
        EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, GetLastError());
        EXPECT_THAT(kvtest::TraceLines(),
                    testing::ElementsAre(
                        testing::HasSubstr("CryptDllConvertPublicKeyInfo function registered for "
                                           "1.2.840.113549.1.1.1")));
        CryptReleaseContext(hProv, 0);
    }
}

} // namespace

// Public keys through the registered functions of the built library and the platform's
// provider: a container's key exports as the SubjectPublicKeyInfo OpenSSL wrote for it
// (tests/data/csp/<key>.pub.der, read back with OpenSSL), and that SubjectPublicKeyInfo
// imports as the container's own public key.
#include "common/TraceFile.h"
#include "gostcsp.h"
#include "wincrypt.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;
constexpr DWORD kAsnEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

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

class PublicKeyDispatch : public testing::Test {
  protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kvcapi-XXXXXX").string();
        ASSERT_NE(nullptr, mkdtemp(pattern.data()));
        dir_ = pattern;
        const std::string registry = (dir_ / "oidfunc.conf").string();
        setenv("KV_OIDFUNC_REGISTRY", registry.c_str(), 1);
        std::ofstream out(registry);
        for (const char *oid : {"1.2.643.2.2.19", "1.2.643.7.1.1.1.1", "1.2.643.7.1.1.1.2"}) {
            out << "CryptDllConvertPublicKeyInfo 1 " << oid << ' ' << KV_TEST_LIBKVEXT
                << " OrvaConvertPublicKeyInfo\n";
            out << "CryptDllExportPublicKeyInfoEx 1 " << oid << ' ' << KV_TEST_LIBKVEXT
                << " OrvaDllExportPublicKeyInfoEx\n";
        }
    }
    void TearDown() override
    {
        unsetenv("KV_OIDFUNC_REGISTRY");
        std::filesystem::remove_all(dir_);
    }
    std::filesystem::path dir_;
};

TEST_F(PublicKeyDispatch, ExportAndImportAgreeWithOpenSsl)
{
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

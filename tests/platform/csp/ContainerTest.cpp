// Containers, their key-exchange keys, and the GOST public-key blob compared byte by byte
// with what openssl prints and encodes for the same keys.
#include "CspTestSupport.h"

#include "common/TraceFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

using namespace csptest;

namespace {

struct KeyCase {
    const char *name;
    ALG_ID exchangeAlgId, signAlgId;
    const char *paramSet, *digestParamSet, *keyOid;
    DWORD bitLen;
};

const KeyCase kKeys[] = {
    {"gost2001-A-1", ALG_GOST_DH_2001, ALG_GOST_SIGN_2001, "1.2.643.2.2.35.1", "1.2.643.2.2.30.1",
     "1.2.643.2.2.19", 512},
    {"gost2001-XA-1", ALG_GOST_DH_2001, ALG_GOST_SIGN_2001, "1.2.643.2.2.36.0", "1.2.643.2.2.30.1",
     "1.2.643.2.2.19", 512},
    {"gost2012_256-A-1", ALG_GOST_DH_2012_256, ALG_GOST_SIGN_2012_256, "1.2.643.2.2.35.1",
     "1.2.643.7.1.1.2.2", "1.2.643.7.1.1.1.1", 512},
    {"gost2012_256-TCA-1", ALG_GOST_DH_2012_256, ALG_GOST_SIGN_2012_256, "1.2.643.7.1.2.1.1.1",
     "1.2.643.7.1.1.2.2", "1.2.643.7.1.1.1.1", 512},
    {"gost2012_512-A-1", ALG_GOST_DH_2012_512, ALG_GOST_SIGN_2012_512, "1.2.643.7.1.2.1.2.1",
     "1.2.643.7.1.1.2.3", "1.2.643.7.1.1.1.2", 1024},
    {"gost2012_512-C-1", ALG_GOST_DH_2012_512, ALG_GOST_SIGN_2012_512, "1.2.643.7.1.2.1.2.3",
     "1.2.643.7.1.1.2.3", "1.2.643.7.1.1.1.2", 1024},
};

// The parts of `openssl pkey -pubout -outform DER`.
SpkiParts ReadSpki(const std::string &keyName)
{
    return SplitSpki(kvtest::ReadDataFile("csp/" + keyName + ".pub.der"));
}

// `openssl pkey -pubout -text`, as committed: X and Y (big-endian hex, leading zeros dropped)
// and the parameter set, which make.sh writes as its OID.
struct OpensslText {
    Bytes key; // X then Y, each little-endian over half the key, as in RFC 4491
    std::string paramSet;
};

OpensslText ReadText(const std::string &keyName, size_t cbHalf)
{
    std::ifstream in(kvtest::DataPath("csp/" + keyName + ".pub.txt"));
    OpensslText text;
    static const std::string kParamSet = "Parameter set: ";
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(kParamSet)) text.paramSet = line.substr(kParamSet.size());
        line.erase(0, line.find_first_not_of(' '));
        if (!line.starts_with("X:") && !line.starts_with("Y:")) continue;
        std::string hex = line.substr(2);
        hex.insert(0, 2 * cbHalf - hex.size(), '0');
        Bytes coordinate = FromHex(hex);
        std::reverse(coordinate.begin(), coordinate.end());
        text.key.insert(text.key.end(), coordinate.begin(), coordinate.end());
    }
    return text;
}

Bytes LittleEndian(DWORD value)
{
    Bytes out(4);
    for (size_t i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    return out;
}

} // namespace

// The container's AT_KEYEXCHANGE key reports its algorithm, curve and digest.
TEST(CspContainer, ExchangeKeyParameters)
{
    for (const KeyCase &key : kKeys) {
        SCOPED_TRACE(key.name);
        ProvHandle prov;
        AcquireContainer(key.name, &prov);
        KeyHandle user;
        ASSERT_TRUE(CryptGetUserKey(prov.h, AT_KEYEXCHANGE, &user.h));
        EXPECT_EQ(key.exchangeAlgId, GetDwordParam(user.h, KP_ALGID));
        EXPECT_EQ(key.bitLen / 2, GetDwordParam(user.h, KP_KEYLEN));
        EXPECT_EQ(key.paramSet, GetTextParam(user.h, KP_GOST_PUBKEY_PARAMSET));
        EXPECT_EQ(key.digestParamSet, GetTextParam(user.h, KP_GOST_HASH_PARAMSET));
        EXPECT_EQ(szOID_Gost28147_89_Kelvarine_A_ParamSet,
                  GetTextParam(user.h, KP_GOST_CIPHER_PARAMSET));
    }
}

// PUBLICKEYBLOBEX: header, magic, bit length, the parameters exactly as openssl encodes them in
// the SubjectPublicKeyInfo, and X || Y little-endian as openssl prints them; the curve openssl
// prints is the one the key reports.
TEST(CspContainer, PublicKeyBlobMatchesOpenssl)
{
    for (const KeyCase &key : kKeys) {
        SCOPED_TRACE(key.name);
        ProvHandle prov;
        AcquireContainer(key.name, &prov);
        KeyHandle user;
        ASSERT_TRUE(CryptGetUserKey(prov.h, AT_KEYEXCHANGE, &user.h));
        const Bytes blob = ExportBlob(user.h, 0, PUBLICKEYBLOBEX);
        const SpkiParts spki = ReadSpki(key.name);
        const size_t cbKey = key.bitLen / 8;
        ASSERT_EQ(16 + spki.parameters.size() + cbKey, blob.size());
        Bytes header = {PUBLICKEYBLOBEX, 0x20, 0x00, 0x00};
        for (DWORD field : {DWORD{key.signAlgId}, DWORD{GOST_PUBKEY_MAGIC}, key.bitLen}) {
            const Bytes bytes = LittleEndian(field);
            header.insert(header.end(), bytes.begin(), bytes.end());
        }
        EXPECT_EQ(ToHex(header), ToHex(std::span(blob).first(16)));
        EXPECT_EQ(ToHex(spki.parameters),
                  ToHex(std::span(blob).subspan(16, spki.parameters.size())));
        const std::span<const unsigned char> keyBytes = std::span(blob).last(cbKey);
        EXPECT_EQ(ToHex(spki.key), ToHex(keyBytes));
        const OpensslText text = ReadText(key.name, cbKey / 2);
        EXPECT_EQ(ToHex(text.key), ToHex(keyBytes));
        EXPECT_EQ(GetTextParam(user.h, KP_GOST_PUBKEY_PARAMSET), text.paramSet);
    }
}

// A blob laid out from openssl's SubjectPublicKeyInfo, as a certificate conversion builds it
// (PUBLICKEYBLOB, reserved 1), imports without a private key and exports as the same key.
TEST(CspContainer, PublicKeyBlobImport)
{
    for (const KeyCase &key : kKeys) {
        SCOPED_TRACE(key.name);
        const SpkiParts spki = ReadSpki(key.name);
        Bytes blob = {PUBLICKEYBLOB, 0x20, 0x01, 0x00};
        for (DWORD field : {DWORD{key.signAlgId}, DWORD{GOST_PUBKEY_MAGIC}, key.bitLen}) {
            const Bytes bytes = LittleEndian(field);
            blob.insert(blob.end(), bytes.begin(), bytes.end());
        }
        blob.insert(blob.end(), spki.parameters.begin(), spki.parameters.end());
        blob.insert(blob.end(), spki.key.begin(), spki.key.end());
        ProvHandle prov;
        AcquireVerify(&prov);
        KeyHandle publicKey;
        ASSERT_TRUE(ImportBlob(prov.h, blob, 0, &publicKey.h)) << std::hex << GetLastError();
        EXPECT_EQ(key.signAlgId, GetDwordParam(publicKey.h, KP_ALGID));
        EXPECT_EQ(key.paramSet, GetTextParam(publicKey.h, KP_GOST_PUBKEY_PARAMSET));
        Bytes exported = ExportBlob(publicKey.h, 0, PUBLICKEYBLOB);
        blob[2] = 0x00; // reserved: the provider writes 0
        EXPECT_EQ(ToHex(blob), ToHex(exported));
    }
}

// How a container name finds its key file.
TEST(CspContainer, ContainerNames)
{
    const std::string dataDir = kvtest::DataPath("csp");
    static const struct {
        const char *name;
        const char *container; // "@" stands for the data directory
        bool setDirectory;
        DWORD flags, error;
    } kCases[] = {
        {"absolute path", "@/gost2001-A-1.pem", false, 0, 0},
        {"name under KV_CSP_CONTAINER_DIR", "gost2012_512-C-2", true, 0, 0},
        {"name without KV_CSP_CONTAINER_DIR", "gost2012_512-C-2", false, 0, NTE_BAD_KEYSET},
        {"missing file", "no-such-key", true, 0, NTE_BAD_KEYSET},
        {"file without a key", "@/cfb-plain.bin", false, 0, NTE_BAD_KEYSET},
        {"relative path", "csp/gost2001-A-1", true, 0, NTE_BAD_KEYSET_PARAM},
        {"parent directory", "..", true, 0, NTE_BAD_KEYSET_PARAM},
        {"no container", nullptr, true, 0, NTE_BAD_KEYSET},
        {"verify context with a container", "gost2001-A-1", true, CRYPT_VERIFYCONTEXT,
         NTE_BAD_FLAGS},
        {"new key set", "gost2001-A-1", true, CRYPT_NEWKEYSET, NTE_BAD_FLAGS},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.name);
        if (c.setDirectory)
            setenv("KV_CSP_CONTAINER_DIR", dataDir.c_str(), 1);
        else
            unsetenv("KV_CSP_CONTAINER_DIR");
        std::string container = c.container ? c.container : "";
        if (container.starts_with("@")) container.replace(0, 1, dataDir);
        ProvHandle prov;
        SetLastError(0xDEADBEEF);
        const BOOL ok = CryptAcquireContextA(&prov.h, c.container ? container.c_str() : nullptr,
                                             nullptr, KV_PROV_GOST, c.flags);
        EXPECT_EQ(c.error == 0, ok != FALSE);
        EXPECT_EQ(c.error == 0 ? 0xDEADBEEF : c.error, GetLastError());
        if (!ok) prov.h = 0;
    }
    unsetenv("KV_CSP_CONTAINER_DIR");
}

// Only a container has a key pair, and only for key exchange.
TEST(CspContainer, UserKeys)
{
    ProvHandle verify, container;
    AcquireVerify(&verify);
    AcquireContainer("gost2001-A-1", &container);
    static const struct {
        const char *name;
        bool container;
        DWORD keySpec, error;
    } kCases[] = {{"verify context", false, AT_KEYEXCHANGE, NTE_NO_KEY},
                  {"signature key", true, AT_SIGNATURE, NTE_NO_KEY},
                  {"unknown dwKeySpec", true, 7, NTE_NO_KEY},
                  {"key exchange", true, AT_KEYEXCHANGE, 0}};
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.name);
        KeyHandle key;
        SetLastError(0xDEADBEEF);
        const BOOL ok = CryptGetUserKey(c.container ? container.h : verify.h, c.keySpec, &key.h);
        EXPECT_EQ(c.error == 0, ok != FALSE);
        EXPECT_EQ(c.error == 0 ? 0xDEADBEEF : c.error, GetLastError());
    }
}

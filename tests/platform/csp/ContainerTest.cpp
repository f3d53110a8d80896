// Containers, their key-exchange keys, and the GOST public-key blob compared byte by byte
// with what openssl prints and encodes for the same keys.
#include "CspTestSupport.h"

#include "common/TraceFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

using namespace csptest;

namespace {

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

} // namespace

// For each key of tests/data/csp/keys.txt, the container's AT_KEYEXCHANGE key reports its
// algorithm, curve and digest. Its PUBLICKEYBLOBEX is the header, then the parameters exactly as
// openssl encodes them in the SubjectPublicKeyInfo, then X || Y little-endian as openssl prints
// them (`openssl pkey -pubout`, as DER and as text). A blob laid out from openssl's
// SubjectPublicKeyInfo as a certificate conversion builds it (PUBLICKEYBLOB, reserved 1) imports
// without a private key and exports as the same key.
TEST(CspContainer, ExchangeKeysMatchOpenssl)
{
    ProvHandle verify;
    AcquireVerify(&verify);
    for (const kvtest::FileCase &key : kvtest::ReadFileCases("csp/keys.txt")) {
        SCOPED_TRACE(key.where);
        const std::string name = key.Get("Name");
        ProvHandle prov;
        AcquireContainer(name, &prov);
        KeyHandle user, publicKey;
        ASSERT_TRUE(CryptGetUserKey(prov.h, AT_KEYEXCHANGE, &user.h));
        EXPECT_EQ(key.Number("ExchangeAlgId"), GetDwordParam(user.h, KP_ALGID));
        const Bytes header = key.Hex("BlobHeader");
        const DWORD bitLen = header.at(12) | header.at(13) << 8; // X || Y
        const size_t cbKey = bitLen / 8;
        EXPECT_EQ(bitLen / 2, GetDwordParam(user.h, KP_KEYLEN));
        EXPECT_EQ(key.Get("ParamSet"), GetTextParam(user.h, KP_GOST_PUBKEY_PARAMSET));
        EXPECT_EQ(key.Get("DigestParamSet"), GetTextParam(user.h, KP_GOST_HASH_PARAMSET));
        EXPECT_EQ(szOID_Gost28147_89_Kelvarine_A_ParamSet,
                  GetTextParam(user.h, KP_GOST_CIPHER_PARAMSET));

        const Bytes blob = ExportBlob(user.h, 0, PUBLICKEYBLOBEX);
        const SpkiParts spki = SplitSpki(kvtest::ReadDataFile("csp/" + name + ".pub.der"));
        EXPECT_EQ(ToHex(Cat({header, spki.parameters, spki.key})), ToHex(blob));
        const OpensslText text = ReadText(name, cbKey / 2);
        EXPECT_EQ(ToHex(text.key), ToHex(std::span(blob).last(cbKey)));
        EXPECT_EQ(key.Get("ParamSet"), text.paramSet);

        Bytes given = Cat({header, spki.parameters, spki.key});
        given[0] = PUBLICKEYBLOB;
        given[2] = 0x01;
        ASSERT_TRUE(ImportBlob(verify.h, given, 0, &publicKey.h)) << std::hex << GetLastError();
        EXPECT_EQ(header[4] | header[5] << 8, GetDwordParam(publicKey.h, KP_ALGID));
        EXPECT_EQ(key.Get("ParamSet"), GetTextParam(publicKey.h, KP_GOST_PUBKEY_PARAMSET));
        given[2] = 0x00; // reserved: the provider writes 0
        EXPECT_EQ(ToHex(given), ToHex(ExportBlob(publicKey.h, 0, PUBLICKEYBLOB)));
    }
}

// How a container name finds its key file: the cases of tests/data/csp/container_names.txt.
TEST(CspContainer, ContainerNames)
{
    const std::string dataDir = kvtest::DataPath("csp");
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("csp/container_names.txt")) {
        SCOPED_TRACE(c.where);
        if (c.Get("Directory") == "set")
            setenv("KV_CSP_CONTAINER_DIR", dataDir.c_str(), 1);
        else
            unsetenv("KV_CSP_CONTAINER_DIR");
        std::string container = c.Get("Container", "");
        if (container.starts_with("@")) container.replace(0, 1, dataDir);
        ProvHandle prov;
        SetLastError(0xDEADBEEF);
        const BOOL ok =
            CryptAcquireContextA(&prov.h, c.Has("Container") ? container.c_str() : nullptr, nullptr,
                                 KV_PROV_GOST, static_cast<DWORD>(c.Number("Flags", "0")));
        EXPECT_EQ(!c.Has("Error"), ok != FALSE);
        EXPECT_EQ(c.Number("Error", "0xDEADBEEF"), GetLastError());
        if (!ok) prov.h = 0;
    }
    unsetenv("KV_CSP_CONTAINER_DIR");
}

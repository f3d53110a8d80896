// The codes a caller sees: bad and stale handles, identifiers, parameters, flags, blob types
// and short buffers. A successful call leaves the last error alone.
#include "CspTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace csptest;

namespace {

struct ErrorCase {
    const char *name;
    std::function<BOOL()> call;
    DWORD error;
};

void RunCases(const std::vector<ErrorCase> &cases)
{
    for (const ErrorCase &c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0xDEADBEEF);
        EXPECT_FALSE(c.call());
        EXPECT_EQ(c.error, GetLastError()) << std::hex << GetLastError();
    }
}

const BYTE *Text(const char *text)
{
    return reinterpret_cast<const BYTE *>(text);
}

} // namespace

// Released, destroyed and made-up handles, and handles of the wrong kind, fail cleanly:
// NTE_BAD_UID for providers, NTE_BAD_KEY for keys.
TEST(CspErrors, BadHandles)
{
    ProvHandle prov;
    AcquireVerify(&prov);
    HCRYPTPROV released = 0;
    ASSERT_TRUE(
        CryptAcquireContextA(&released, nullptr, nullptr, KV_PROV_GOST, CRYPT_VERIFYCONTEXT));
    ASSERT_TRUE(CryptReleaseContext(released, 0));
    HCRYPTKEY destroyed = 0;
    ASSERT_TRUE(CryptGenKey(prov.h, ALG_GOST_28147, 0, &destroyed));
    ASSERT_TRUE(CryptDestroyKey(destroyed));
    KeyHandle key;
    ASSERT_TRUE(CryptGenKey(prov.h, ALG_GOST_28147, CRYPT_EXPORTABLE, &key.h));
    const HCRYPTKEY madeUp = 0x5EED1234, providerAsKey = prov.h;
    const HCRYPTPROV keyAsProvider = key.h;
    HCRYPTKEY out = 0;
    DWORD cb = 64;
    BYTE buffer[64] = {};
    RunCases({
        {"release twice", [&] { return CryptReleaseContext(released, 0); }, NTE_BAD_UID},
        {"generate on released", [&] { return CryptGenKey(released, ALG_GOST_28147, 0, &out); },
         NTE_BAD_UID},
        {"user key of key handle",
         [&] { return CryptGetUserKey(keyAsProvider, AT_KEYEXCHANGE, &out); }, NTE_BAD_UID},
        {"import into null", [&] { return CryptImportKey(0, buffer, 60, 0, 0, &out); },
         NTE_BAD_UID},
        {"destroy twice", [&] { return CryptDestroyKey(destroyed); }, NTE_BAD_KEY},
        {"param of destroyed", [&] { return CryptGetKeyParam(destroyed, KP_IV, buffer, &cb, 0); },
         NTE_BAD_KEY},
        {"set param of made-up", [&] { return CryptSetKeyParam(madeUp, KP_IV, buffer, 0); },
         NTE_BAD_KEY},
        {"export provider handle",
         [&] { return CryptExportKey(providerAsKey, 0, SIMPLEBLOB, 0, nullptr, &cb); },
         NTE_BAD_KEY},
        {"export under destroyed",
         [&] { return CryptExportKey(key.h, destroyed, SIMPLEBLOB, 0, nullptr, &cb); },
         NTE_BAD_KEY},
        {"encrypt with destroyed",
         [&] { return CryptEncrypt(destroyed, 0, TRUE, 0, buffer, &cb, 64); }, NTE_BAD_KEY},
        {"decrypt with made-up", [&] { return CryptDecrypt(madeUp, 0, TRUE, 0, buffer, &cb); },
         NTE_BAD_KEY},
    });
}

// Identifiers, parameters, flags and blob types the provider does not know.
TEST(CspErrors, RefusedArguments)
{
    ProvHandle prov, container;
    AcquireVerify(&prov);
    AcquireContainer("gost2012_256-A-1", &container);
    KeyHandle session, exportable, user, agreement, pending, publicKey;
    ASSERT_TRUE(CryptGenKey(prov.h, ALG_GOST_28147, 0, &session.h));
    ASSERT_TRUE(CryptGenKey(prov.h, ALG_GOST_28147, CRYPT_EXPORTABLE, &exportable.h));
    ASSERT_TRUE(CryptGetUserKey(container.h, AT_KEYEXCHANGE, &user.h));
    const Bytes ownBlob = ExportBlob(user.h, 0, PUBLICKEYBLOBEX);
    ASSERT_TRUE(ImportBlob(container.h, ownBlob, user.h, &agreement.h));
    ASSERT_TRUE(ImportBlob(prov.h, ownBlob, 0, &publicKey.h));
    ASSERT_TRUE(CryptGenKey(prov.h, ALG_GOST_DH_2012_256_EPHEM, CRYPT_PREGEN, &pending.h));
    const Bytes blob2001 = PublicKeyBlobOf("gost2001-A-2");
    Bytes unknownAlg = ownBlob, badMagic = ownBlob, badLength = ownBlob, notOnCurve = ownBlob;
    unknownAlg[4] = ALG_GOST_28147 & 0xFF; // aiKeyAlg, little-endian: no public-key algorithm
    unknownAlg[5] = ALG_GOST_28147 >> 8;
    badMagic[8] ^= 1;
    badLength.pop_back();
    notOnCurve.back() ^= 1;
    const ALG_ID contentAlg = ALG_GOST_28147;
    HCRYPTKEY out = 0;
    DWORD cb = 256;
    BYTE buffer[256] = {};
    HCRYPTPROV newProv = 0;
    auto import = [&](const Bytes &blob, HCRYPTKEY hPubKey) {
        return ImportBlob(prov.h, blob, hPubKey, &out);
    };
    RunCases({
        {"provider type",
         [&] { return CryptAcquireContextA(&newProv, nullptr, nullptr, 1, CRYPT_VERIFYCONTEXT); },
         NTE_BAD_PROV_TYPE},
        {"provider name",
         [&] {
             return CryptAcquireContextA(&newProv, nullptr, "Other", KV_PROV_GOST,
                                         CRYPT_VERIFYCONTEXT);
         },
         NTE_BAD_PROVIDER},
        {"hash algorithm", [&] { return CryptGenKey(prov.h, CALG_SHA_256, 0, &out); },
         NTE_BAD_ALGID},
        {"container key algorithm", [&] { return CryptGenKey(prov.h, ALG_GOST_DH_2001, 0, &out); },
         NTE_BAD_ALGID},
        {"user protected",
         [&] { return CryptGenKey(prov.h, ALG_GOST_28147, CRYPT_USER_PROTECTED, &out); },
         NTE_BAD_FLAGS},
        {"pregen content key",
         [&] { return CryptGenKey(prov.h, ALG_GOST_28147, CRYPT_PREGEN, &out); }, NTE_BAD_FLAGS},
        {"128-bit content key",
         [&] { return CryptGenKey(prov.h, ALG_GOST_28147, 128u << 16, &out); }, NTE_BAD_FLAGS},
        {"unknown parameter",
         [&] { return CryptGetKeyParam(session.h, KP_PADDING, buffer, &cb, 0); }, NTE_BAD_TYPE},
        {"IV of a key pair", [&] { return CryptGetKeyParam(user.h, KP_IV, buffer, &cb, 0); },
         NTE_BAD_TYPE},
        {"get flags", [&] { return CryptGetKeyParam(session.h, KP_IV, buffer, &cb, 1); },
         NTE_BAD_FLAGS},
        {"set flags", [&] { return CryptSetKeyParam(session.h, KP_IV, buffer, 1); }, NTE_BAD_FLAGS},
        {"unknown cipher parameter set",
         [&] {
             return CryptSetKeyParam(session.h, KP_GOST_CIPHER_PARAMSET, Text("1.2.643.2.2.31.9"),
                                     0);
         },
         NTE_BAD_DATA},
        {"wrap algorithm", [&] { return SetParam(agreement.h, KP_ALGID, &contentAlg); },
         NTE_BAD_ALGID},
        {"curve of another family",
         [&] {
             return CryptSetKeyParam(pending.h, KP_GOST_PUBKEY_PARAMSET,
                                     Text("1.2.643.7.1.2.1.2.1"), 0);
         },
         NTE_BAD_DATA},
        {"digest of another family",
         [&] {
             return CryptSetKeyParam(pending.h, KP_GOST_HASH_PARAMSET, Text("1.2.643.2.2.30.1"), 0);
         },
         NTE_BAD_DATA},
        {"private value from outside", [&] { return CryptSetKeyParam(pending.h, KP_X, buffer, 0); },
         NTE_BAD_DATA},
        {"curve of a finished key pair",
         [&] {
             return CryptSetKeyParam(user.h, KP_GOST_PUBKEY_PARAMSET, Text("1.2.643.2.2.35.1"), 0);
         },
         NTE_BAD_KEY_STATE},
        {"KP_X of a finished key pair", [&] { return CryptSetKeyParam(user.h, KP_X, nullptr, 0); },
         NTE_BAD_KEY_STATE},
        {"parameters of a public key",
         [&] {
             return CryptSetKeyParam(publicKey.h, KP_GOST_CIPHER_PARAMSET,
                                     Text(szOID_tc26_gost_28147_param_Z), 0);
         },
         NTE_BAD_TYPE},
        {"private key blob",
         [&] { return CryptExportKey(user.h, 0, PRIVATEKEYBLOB, 0, nullptr, &cb); }, NTE_BAD_TYPE},
        {"export flags",
         [&] { return CryptExportKey(user.h, 0, PUBLICKEYBLOBEX, 1, nullptr, &cb); },
         NTE_BAD_FLAGS},
        {"public blob of a content key",
         [&] { return CryptExportKey(session.h, 0, PUBLICKEYBLOBEX, 0, nullptr, &cb); },
         NTE_BAD_KEY},
        {"public blob of a pending key",
         [&] { return CryptExportKey(pending.h, 0, PUBLICKEYBLOB, 0, nullptr, &cb); },
         NTE_BAD_KEY_STATE},
        {"not exportable",
         [&] { return CryptExportKey(session.h, agreement.h, SIMPLEBLOB, 0, nullptr, &cb); },
         NTE_BAD_KEY_STATE},
        {"SIMPLEBLOB under a key pair",
         [&] { return CryptExportKey(exportable.h, user.h, SIMPLEBLOB, 0, nullptr, &cb); },
         NTE_BAD_KEY},
        {"blob type",
         [&] {
             Bytes b = ownBlob;
             b[0] = PRIVATEKEYBLOB;
             return import(b, 0);
         },
         NTE_BAD_TYPE},
        {"blob version",
         [&] {
             Bytes b = ownBlob;
             b[1] = 2;
             return import(b, 0);
         },
         NTE_BAD_VER},
        {"public key algorithm", [&] { return import(unknownAlg, 0); }, NTE_BAD_ALGID},
        {"public key magic", [&] { return import(badMagic, 0); }, NTE_BAD_DATA},
        {"public key length", [&] { return import(badLength, 0); }, NTE_BAD_DATA},
        {"point not on the curve", [&] { return import(notOnCurve, 0); }, NTE_BAD_DATA},
        {"agreement across families",
         [&] { return ImportBlob(container.h, blob2001, user.h, &out); }, NTE_BAD_DATA},
        {"agreement with a public key", [&] { return import(ownBlob, publicKey.h); }, NTE_BAD_KEY},
        {"agreement with a pending key", [&] { return import(ownBlob, pending.h); },
         NTE_BAD_KEY_STATE},
        {"import flags",
         [&] {
             return CryptImportKey(prov.h, ownBlob.data(), static_cast<DWORD>(ownBlob.size()), 0,
                                   CRYPT_NO_SALT, &out);
         },
         NTE_BAD_FLAGS},
        {"encrypt with a hash",
         [&] { return CryptEncrypt(session.h, 1, TRUE, 0, buffer, &cb, 256); }, NTE_BAD_HASH},
        {"encrypt flags", [&] { return CryptEncrypt(session.h, 0, TRUE, 1, buffer, &cb, 256); },
         NTE_BAD_FLAGS},
        {"encrypt with a key pair",
         [&] { return CryptEncrypt(user.h, 0, TRUE, 0, buffer, &cb, 256); }, NTE_BAD_KEY},
    });
    EXPECT_EQ(HCRYPTKEY{0}, out);
}

// Every variable-length result answers a size query, refuses a buffer one byte short with
// ERROR_MORE_DATA and the size, leaves that buffer alone, and fills an exact one.
TEST(CspErrors, ShortBuffers)
{
    ProvHandle prov;
    KeyHandle session, user, agreement;
    OpenAgreement("gost2012_512-A-1", PublicKeyBlobOf("gost2012_512-A-2"), &prov, &user,
                  &agreement);
    ASSERT_TRUE(CryptGenKey(prov.h, ALG_GOST_28147, CRYPT_EXPORTABLE, &session.h));
    static const struct {
        const char *name;
        bool isBlob; // an export, else a key parameter
        DWORD param;
        size_t size;
    } kCases[] = {
        {"KP_IV", false, KP_IV, 8},
        {"KP_ALGID", false, KP_ALGID, 4},
        {"KP_GOST_CIPHER_PARAMSET", false, KP_GOST_CIPHER_PARAMSET,
         sizeof szOID_Gost28147_89_Kelvarine_A_ParamSet},
        {"PUBLICKEYBLOBEX", true, PUBLICKEYBLOBEX, 16 + 23 + 128},
        {"SIMPLEBLOB", true, SIMPLEBLOB, 60 + 11},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.name);
        const bool isBlob = c.isBlob;
        const HCRYPTKEY hKey = isBlob && c.param == PUBLICKEYBLOBEX ? user.h : session.h;
        const HCRYPTKEY hExpKey = isBlob && c.param == SIMPLEBLOB ? agreement.h : 0;
        auto call = [&](BYTE *pb, DWORD *pcb) {
            return isBlob ? CryptExportKey(hKey, hExpKey, c.param, 0, pb, pcb)
                          : CryptGetKeyParam(hKey, c.param, pb, pcb, 0);
        };
        DWORD cb = 0;
        SetLastError(0xDEADBEEF);
        ASSERT_TRUE(call(nullptr, &cb));
        EXPECT_EQ(c.size, cb);
        EXPECT_EQ(0xDEADBEEFu, GetLastError());
        Bytes buffer(c.size + 4, 0xA5);
        cb = static_cast<DWORD>(c.size - 1);
        EXPECT_FALSE(call(buffer.data(), &cb));
        EXPECT_EQ(DWORD{ERROR_MORE_DATA}, GetLastError());
        EXPECT_EQ(c.size, cb);
        EXPECT_EQ(Bytes(c.size + 4, 0xA5), buffer);
        cb = static_cast<DWORD>(c.size);
        EXPECT_TRUE(call(buffer.data(), &cb));
        EXPECT_EQ(c.size, cb);
        EXPECT_EQ(Bytes(4, 0xA5), Bytes(buffer.end() - 4, buffer.end())); // nothing past the result
    }
}

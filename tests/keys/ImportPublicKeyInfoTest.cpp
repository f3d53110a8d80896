// Certificate public keys into the provider through the library, and the key-parameter
// helpers, against the platform's GOST provider.
#include "keys/KeyHelpers.h"
#include "keys/GostVocabulary.h"
#include "kvext/keys.h"

#include "GostKeyVectors.h"
#include "ProviderHandles.h"
#include "common/TraceFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>

using kvtest::Bytes;
using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

std::optional<DWORD> g_convertedKeyBytes; // the PublicKey size the conversion was given
const char *g_keyParamText = nullptr;     // non-null: CryptGetKeyParam answers this text

} // namespace

// The program is linked with --wrap for these (tests/keys/CMakeLists.txt).
extern "C" BOOL __real_OrvaConvertPublicKeyInfo(DWORD, PCERT_PUBLIC_KEY_INFO, ALG_ID, DWORD,
                                                BYTE **, DWORD *);
extern "C" BOOL __wrap_OrvaConvertPublicKeyInfo(DWORD dwCertEncodingType,
                                                PCERT_PUBLIC_KEY_INFO pInfo, ALG_ID aiKeyAlg,
                                                DWORD dwFlags, BYTE **ppbData, DWORD *pcbData)
{
    g_convertedKeyBytes = pInfo->PublicKey.cbData;
    return __real_OrvaConvertPublicKeyInfo(dwCertEncodingType, pInfo, aiKeyAlg, dwFlags, ppbData,
                                           pcbData);
}
extern "C" BOOL __real_CryptGetKeyParam(HCRYPTKEY, DWORD, BYTE *, DWORD *, DWORD);
extern "C" BOOL __wrap_CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE *pbData,
                                        DWORD *pdwDataLen, DWORD dwFlags)
{
    if (!g_keyParamText) return __real_CryptGetKeyParam(hKey, dwParam, pbData, pdwDataLen, dwFlags);
    const DWORD cbText = static_cast<DWORD>(std::strlen(g_keyParamText) + 1);
    if (*pdwDataLen < cbText) {
        *pdwDataLen = cbText;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    std::memcpy(pbData, g_keyParamText, cbText);
    *pdwDataLen = cbText;
    return TRUE;
}

namespace {

class ProviderImport : public testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_NE(0u, *hProv_);
        ASSERT_EQ(0, rtInitContext(&ctx_, nullptr));
    }
    void TearDown() override
    {
        rtFreeContext(&ctx_);
        g_convertedKeyBytes.reset();
        g_keyParamText = nullptr;
    }
    // The key's PUBLICKEYBLOBEX as the provider exports it.
    static Bytes ExportedBlob(HCRYPTKEY hKey)
    {
        DWORD cbBlob = 0;
        EXPECT_TRUE(CryptExportKey(hKey, 0, PUBLICKEYBLOBEX, 0, nullptr, &cbBlob));
        Bytes blob(cbBlob);
        EXPECT_TRUE(CryptExportKey(hKey, 0, PUBLICKEYBLOBEX, 0, blob.data(), &cbBlob));
        blob.resize(cbBlob);
        return blob;
    }
    const std::vector<kvtest::GostKeyVector> vectors_ = kvtest::LoadGostKeyVectors();
    const kvtest::ScopedProv hProv_ = kvtest::AcquireProvider(nullptr);
    Asn1Context ctx_{};
};

// Every converted certificate key is accepted by CryptImportKey, and the provider gives back
// the same key and parameters when it exports the imported key.
TEST_F(ProviderImport, ConvertedKeysAreImported)
{
    for (const auto &v : vectors_) {
        SCOPED_TRACE(v.name);
        const CERT_PUBLIC_KEY_INFO info = kvtest::PublicKeyInfoOf(v);
        auto hKey = kvtest::NewScopedKey();
        ASSERT_TRUE(OrvaImportPublicKeyInfoEx(*hProv_, &info, 0, hKey.get()));
        const Bytes expected = kvtest::GostPublicKeyBlob(
            PUBLICKEYBLOBEX, 0, kvtest::SignAlgIdOf(v.algorithmOid), v.params, v.rawKey);
        const Bytes exported = ExportedBlob(*hKey);
        ASSERT_EQ(expected.size(), exported.size());
        // bType and reserved are the export's own; the rest must agree.
        EXPECT_TRUE(std::equal(expected.begin() + 4, expected.end(), exported.begin() + 4));
    }
}

// The three input forms reach the same conversion: CryptoAPI structures, algorithm and bit
// blob apart, and a SubjectPublicKeyInfo value decoded from OpenSSL's DER.
TEST_F(ProviderImport, ImportForms)
{
    const auto &v = vectors_.at(3); // 2012 256-bit, parameter set A
    const CERT_PUBLIC_KEY_INFO info = kvtest::PublicKeyInfoOf(v);
    auto hFromEx1 = kvtest::NewScopedKey();
    ASSERT_TRUE(
        OrvaImportPublicKeyInfoEx1(*hProv_, &info.Algorithm, &info.PublicKey, 0, hFromEx1.get()));

    SubjectPublicKeyInfo value{};
    ASSERT_EQ(0, xd_setp(&ctx_, v.spki.data(), static_cast<int>(v.spki.size()), nullptr, nullptr));
    ASSERT_EQ(0, asn1D_SubjectPublicKeyInfo(&ctx_, &value, ASN1EXPL, 0));
    auto hFromValue = kvtest::NewScopedKey();
    ASSERT_TRUE(OrvaImportSubjectPublicKeyInfoEx(*hProv_, &value, 0, hFromValue.get()));
    EXPECT_EQ(v.publicKey.size(), g_convertedKeyBytes);
    EXPECT_EQ(ExportedBlob(*hFromEx1), ExportedBlob(*hFromValue));
}

// The bit string's length in whole bytes: 0 bits give no key, 513 bits 65 bytes. Whether the
// provider takes what comes of it is not the point here.
TEST_F(ProviderImport, BitCountRoundsUpToWholeBytes)
{
    const auto &v = vectors_.at(0);
    SubjectPublicKeyInfo value{};
    ASSERT_EQ(1, rtStrToOid("1.2.643.2.2.19", &value.algorithm.algorithm));
    value.algorithm.m.parametersPresent = 1;
    value.algorithm.parameters = {static_cast<ASN1UINT>(v.params.size()), v.params.data()};
    value.subjectPublicKey.data = v.publicKey.data();
    for (const auto &[bits, bytes] : {std::pair{0u, 0u}, {513u, 65u}, {528u, 66u}}) {
        SCOPED_TRACE(bits);
        value.subjectPublicKey.numbits = bits;
        auto hKey = kvtest::NewScopedKey();
        (void)OrvaImportSubjectPublicKeyInfoEx(*hProv_, &value, 0, hKey.get());
        EXPECT_EQ(bytes, g_convertedKeyBytes);
    }
}

// With the container's private key as hPubKey the provider answers with an agreement key;
// its refusal of a key on another curve reaches the caller unchanged.
TEST_F(ProviderImport, PrivateKeyGivesAnAgreementKey)
{
    const auto &own = vectors_.at(0); // 2001, parameter set A
    const auto hContainer = kvtest::AcquireProvider(&own.keyPemPath);
    ASSERT_NE(0u, *hContainer);
    auto hPrivate = kvtest::NewScopedKey();
    ASSERT_TRUE(CryptGetUserKey(*hContainer, AT_KEYEXCHANGE, hPrivate.get()));

    const CERT_PUBLIC_KEY_INFO sameCurve = kvtest::PublicKeyInfoOf(own);
    auto hAgree = kvtest::NewScopedKey();
    EXPECT_TRUE(OrvaImportPublicKeyInfoEx(*hContainer, &sameCurve, *hPrivate, hAgree.get()));

    const CERT_PUBLIC_KEY_INFO otherCurve = kvtest::PublicKeyInfoOf(vectors_.at(1)); // 2001 B
    auto hNone = kvtest::NewScopedKey();
    SetLastError(0);
    EXPECT_FALSE(OrvaImportPublicKeyInfoEx(*hContainer, &otherCurve, *hPrivate, hNone.get()));
    EXPECT_EQ(DWORD{NTE_BAD_DATA}, GetLastError());
}

// Parameter sets as OID values: read from a real key, set and read back, and what comes of a
// text that is no OID.
TEST_F(ProviderImport, OidKeyParameters)
{
    const auto &v = vectors_.at(0); // params: 30 12 06 07 <public-key set> 06 07 <digest set>
    const auto hContainer = kvtest::AcquireProvider(&v.keyPemPath);
    auto hPair = kvtest::NewScopedKey();
    ASSERT_TRUE(CryptGetUserKey(*hContainer, AT_KEYEXCHANGE, hPair.get()));
    ASN1OBJID paramSet{};
    ASSERT_TRUE(OrvaExportOIDKeyParam(*hPair, KP_GOST_PUBKEY_PARAMSET, &paramSet));
    ASSERT_EQ(0, xe_setp(&ctx_, nullptr, 0));
    const int cbOid = xe_objid(&ctx_, &paramSet, ASN1EXPL);
    EXPECT_THAT(Bytes(xe_getp(&ctx_), xe_getp(&ctx_) + cbOid),
                ElementsAreArray(v.params.begin() + 2, v.params.begin() + 2 + 9));

    auto hSession = kvtest::NewScopedKey();
    ASSERT_TRUE(CryptGenKey(*hProv_, ALG_GOST_28147, CRYPT_EXPORTABLE, hSession.get()));
    ASN1OBJID paramSetB{}; // 1.2.643.2.2.31.2, cipher parameter set B
    ASSERT_EQ(1, rtStrToOid("1.2.643.2.2.31.2", &paramSetB));
    ASSERT_TRUE(OrvaImportOIDKeyParam(*hSession, KP_GOST_CIPHER_PARAMSET, &paramSetB));
    char text[128] = {};
    DWORD cbText = sizeof text;
    ASSERT_TRUE(CryptGetKeyParam(*hSession, KP_GOST_CIPHER_PARAMSET, reinterpret_cast<BYTE *>(text),
                                 &cbText, 0));
    EXPECT_STREQ("1.2.643.2.2.31.2", text);

    g_keyParamText = "1.2.643.2.2.31.1";
    ASN1OBJID read{};
    ASSERT_TRUE(OrvaExportOIDKeyParam(*hSession, KP_GOST_CIPHER_PARAMSET, &read));
    EXPECT_EQ(7u, read.numids);
    g_keyParamText = "ParamSet-A"; // a name, not dotted decimal
    SetLastError(0);
    EXPECT_FALSE(OrvaExportOIDKeyParam(*hSession, KP_GOST_CIPHER_PARAMSET, &read));
    EXPECT_EQ(DWORD{NTE_NO_MEMORY}, GetLastError());
}

} // namespace

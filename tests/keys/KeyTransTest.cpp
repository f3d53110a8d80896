// Key transport against OpenSSL's GOST engine in both directions: envelopes `openssl cms
// -encrypt` made for GOST R 34.10-2001 and 2012 recipients open with the library's import, and
// envelopes built here around the library's export open with `openssl cms -decrypt`.
#include "asn1/Asn1Types.h"
#include "keys/Resources.h"

#include "CmsTestSupport.h"

using kvtest::Bytes;
using kvtest::BytesOf;
using kvtest::CallerMemory;
using kvtest::Cat;
using kvtest::CmsVector;
using kvtest::Der;
using kvtest::DerOid;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

constexpr DWORD kUntouched = 0x5EED;

// The recipient's side of an import: its container and the recipient info CryptoAPI decoded.
struct Recipient {
    kvtest::ScopedProv hProv;
    CMSG_KEY_TRANS_RECIPIENT_INFO keyTrans{};
    CMSG_CTRL_KEY_TRANS_DECRYPT_PARA para{};

    explicit Recipient(const std::string &keyPemPath) : hProv(kvtest::AcquireProvider(&keyPemPath))
    {
        para.cbSize = sizeof para;
        para.hCryptProv = *hProv;
        para.dwKeySpec = AT_KEYEXCHANGE;
        para.pKeyTrans = &keyTrans;
    }
    // The import's result, its last error and its key.
    BOOL Import(const Bytes &encryptedKey, const Bytes &contentParams, HCRYPTKEY *phKey,
                DWORD *pdwError)
    {
        keyTrans.EncryptedKey = kvtest::BlobOf(encryptedKey);
        CRYPT_ALGORITHM_IDENTIFIER content = {const_cast<LPSTR>(kvtest::kGost28147Oid),
                                              kvtest::BlobOf(contentParams)};
        *phKey = 0xBAD;
        SetLastError(kUntouched);
        const BOOL ok = OrvaMsgDllImportKeyTrans(&content, &para, 0, nullptr, phKey);
        *pdwError = GetLastError();
        return ok;
    }
};

// What the sender's CryptoAPI passes for a recipient certificate.
struct Sender {
    CMSG_KEY_TRANS_RECIPIENT_ENCODE_INFO encodeInfo{};
    CMSG_KEY_TRANS_ENCRYPT_INFO encryptInfo{};
    std::string oid;
    Bytes params, publicKey;

    Sender(const std::string &algorithmOid, const Bytes &recipientParams, const Bytes &recipientKey)
        : oid(algorithmOid), params(recipientParams), publicKey(recipientKey)
    {
        encodeInfo.cbSize = sizeof encodeInfo;
        encodeInfo.KeyEncryptionAlgorithm = {oid.data(), kvtest::BlobOf(params)};
        encodeInfo.RecipientPublicKey = {static_cast<DWORD>(publicKey.size()), publicKey.data(), 0};
        encryptInfo.cbSize = sizeof encryptInfo;
    }
    BOOL Export(CMSG_CONTENT_ENCRYPT_INFO *pContent, DWORD *pdwError)
    {
        SetLastError(kUntouched);
        const BOOL ok = OrvaMsgDllExportKeyTrans(pContent, &encodeInfo, &encryptInfo, 0, nullptr);
        *pdwError = GetLastError();
        return ok;
    }
};

// ContentInfo { id-envelopedData, [0] EnvelopedData { 0, SET { KeyTransRecipientInfo { 0, rid,
// keyEncryptionAlgorithm, encryptedKey } }, EncryptedContentInfo { id-data,
// contentEncryptionAlgorithm, [0] IMPLICIT encryptedContent } } }          -- RFC 5652, 3 and 6
Bytes Envelope(const CmsVector &v, const Bytes &encryptedKey, const Bytes &contentParams,
               const Bytes &ciphertext)
{
    const Bytes version0 = {0x02, 0x01, 0x00};
    const Bytes ktri =
        Der(0x30, Cat({version0, v.rid, Der(0x30, Cat({DerOid(v.algorithmOid), v.params})),
                       Der(0x04, encryptedKey)}));
    const Bytes contentInfo =
        Der(0x30, Cat({DerOid("1.2.840.113549.1.7.1"),
                       Der(0x30, Cat({DerOid(kvtest::kGost28147Oid), contentParams})),
                       Der(0x80, ciphertext)}));
    return Der(0x30, Cat({DerOid("1.2.840.113549.1.7.3"),
                          Der(0xA0, Der(0x30, Cat({version0, Der(0x31, ktri), contentInfo})))}));
}

class KeyTrans : public testing::Test {
  protected:
    void SetUp() override
    {
        CallerMemory::Reset();
        ASSERT_EQ(3u, vectors_.size());
        ASSERT_NE(0u, *hSender_);
    }
    void TearDown() override { CallerMemory::Reset(); }
    const std::vector<CmsVector> vectors_ = kvtest::LoadCmsVectors();
    const Bytes plain_ = kvtest::PlainText();
    const kvtest::ScopedProv hSender_ = kvtest::AcquireProvider(nullptr);
};

// openssl's envelope for each recipient: the key transport opens with the recipient's
// container, and the content key decrypts openssl's ciphertext (GOST 28147-89 CFB with key
// meshing over 1500 bytes, parameter set Z) to the plaintext.
TEST_F(KeyTrans, ImportsWhatOpenSslEncrypted)
{
    for (const CmsVector &v : vectors_) {
        SCOPED_TRACE(v.name);
        Recipient recipient(v.keyPemPath);
        ASSERT_NE(0u, *recipient.hProv);
        const kvtest::KeyWatch watch(*recipient.hProv);
        auto hKey = kvtest::NewScopedKey();
        DWORD dwError = 0;
        ASSERT_TRUE(recipient.Import(v.encryptedKey, v.contentParams, hKey.get(), &dwError));
        EXPECT_EQ(kUntouched, dwError);
        EXPECT_EQ(plain_, kvtest::Decrypt(*hKey, v.ciphertext));
        watch.ExpectOnlyAlive({*hKey});
    }
    EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
}

// The content key takes its IV from the content-encryption parameters: with another IV only the
// first CFB block comes out differently.
TEST_F(KeyTrans, ImportedKeyTakesTheContentIv)
{
    const CmsVector &v = vectors_.at(0);
    Bytes otherIv = v.contentParams; // 30 15 04 08 <iv> 06 09 <parameter set>
    otherIv.at(4) ^= 0x01;
    Recipient recipient(v.keyPemPath);
    auto hKey = kvtest::NewScopedKey();
    DWORD dwError = 0;
    ASSERT_TRUE(recipient.Import(v.encryptedKey, otherIv, hKey.get(), &dwError));
    const Bytes decrypted = kvtest::Decrypt(*hKey, v.ciphertext);
    EXPECT_NE(Bytes(plain_.begin(), plain_.begin() + 8),
              Bytes(decrypted.begin(), decrypted.begin() + 8));
    EXPECT_EQ(Bytes(plain_.begin() + 8, plain_.end()),
              Bytes(decrypted.begin() + 8, decrypted.end()));
}

// The library's content key and key transport, around content CryptEncrypt encrypted, make an
// envelope that openssl decrypts for each recipient.
TEST_F(KeyTrans, OpenSslDecryptsWhatTheLibraryEncrypted)
{
    if (!kvtest::OpenSslWithGostEngine()) GTEST_SKIP() << "openssl or its GOST engine is missing";
    for (const CmsVector &v : vectors_) {
        SCOPED_TRACE(v.name);
        kvtest::ContentKey content;
        kvtest::MakeContentKey(*hSender_, &content);
        Sender sender(v.algorithmOid, v.params, v.publicKey);
        DWORD dwError = 0;
        ASSERT_TRUE(sender.Export(&content.info, &dwError));
        const Bytes envelope = Envelope(v, BytesOf(sender.encryptInfo.EncryptedKey),
                                        content.parameters, kvtest::Encrypt(*content.hKey, plain_));
        const std::string in = kvtest::TempPath(v.name + ".env.der");
        const std::string out = kvtest::TempPath(v.name + ".out");
        kvtest::WriteFile(in, envelope);
        const std::string command = "openssl cms -decrypt -engine gost -inform DER -in " + in +
                                    " -recip " + v.certPemPath + " -inkey " + v.keyPemPath +
                                    " -out " + out + " 2>/dev/null";
        EXPECT_EQ(0, std::system(command.c_str()));
        EXPECT_EQ(plain_, kvtest::ReadFile(out));
        std::remove(in.c_str());
        std::remove(out.c_str());
    }
}

// A content key on any cipher parameter set travels wrapped under the set its key transport
// announces: the recipient's container and openssl both open it, for each recipient.
TEST_F(KeyTrans, EveryContentCipherSetOpensHereAndInOpenSsl)
{
    const bool withOpenSsl = kvtest::OpenSslWithGostEngine();
    for (const char *paramSet : {"1.2.643.2.2.31.1", "1.2.643.2.2.31.2", "1.2.643.2.2.31.3",
                                 "1.2.643.2.2.31.4", "1.2.643.7.1.2.5.1.1"}) {
        for (const CmsVector &v : vectors_) {
            SCOPED_TRACE(v.name + " " + paramSet);
            kvtest::ContentKey content;
            kvtest::MakeContentKey(*hSender_, &content);
            ASSERT_TRUE(CryptSetKeyParam(*content.hKey, KP_GOST_CIPHER_PARAMSET,
                                         reinterpret_cast<const BYTE *>(paramSet), 0));
            // Gost28147-89-Parameters ::= SEQUENCE { iv OCTET STRING (8), encryptionParamSet }
            const Bytes iv(content.parameters.begin() + 4, content.parameters.begin() + 12);
            const Bytes contentParams = Der(0x30, Cat({Der(0x04, iv), DerOid(paramSet)}));
            Sender sender(v.algorithmOid, v.params, v.publicKey);
            DWORD dwError = 0;
            ASSERT_TRUE(sender.Export(&content.info, &dwError));
            const Bytes encryptedKey = BytesOf(sender.encryptInfo.EncryptedKey);
            const Bytes ciphertext = kvtest::Encrypt(*content.hKey, plain_);

            Recipient recipient(v.keyPemPath);
            auto hKey = kvtest::NewScopedKey();
            ASSERT_TRUE(recipient.Import(encryptedKey, contentParams, hKey.get(), &dwError))
                << std::hex << dwError;
            EXPECT_EQ(plain_, kvtest::Decrypt(*hKey, ciphertext));
            if (!withOpenSsl) continue;
            const std::string in = kvtest::TempPath(v.name + ".env.der");
            const std::string out = kvtest::TempPath(v.name + ".out");
            kvtest::WriteFile(in, Envelope(v, encryptedKey, contentParams, ciphertext));
            const std::string command = "openssl cms -decrypt -engine gost -inform DER -in " + in +
                                        " -recip " + v.certPemPath + " -inkey " + v.keyPemPath +
                                        " -out " + out + " 2>/dev/null";
            EXPECT_EQ(0, std::system(command.c_str()));
            EXPECT_EQ(plain_, kvtest::ReadFile(out));
            std::remove(in.c_str());
            std::remove(out.c_str());
        }
    }
}

// The key transport the export writes, taken apart: an ephemeral key on the recipient's curve,
// the content key's parameter set, an 8-byte UKM, a 32-byte key and 4-byte MAC, no mask key.
// The recipient's container opens it; nothing but the encrypted key is written, and no key of
// the call outlives it.
TEST_F(KeyTrans, ExportShape)
{
    for (const CmsVector &v : vectors_) {
        SCOPED_TRACE(v.name);
        kvtest::ContentKey content;
        kvtest::MakeContentKey(*hSender_, &content);
        Sender sender(v.algorithmOid, v.params, v.publicKey);
        sender.encryptInfo.KeyEncryptionAlgorithm.pszObjId = const_cast<LPSTR>("2.5.4.3");
        sender.encryptInfo.dwFlags = 0x40;
        const kvtest::KeyWatch watch(*hSender_);
        DWORD dwError = 0;
        ASSERT_TRUE(sender.Export(&content.info, &dwError));
        watch.ExpectOnlyAlive({});
        EXPECT_EQ(kUntouched, dwError);
        EXPECT_STREQ("2.5.4.3", sender.encryptInfo.KeyEncryptionAlgorithm.pszObjId);
        EXPECT_EQ(0u, sender.encryptInfo.KeyEncryptionAlgorithm.Parameters.cbData);
        EXPECT_EQ(0x40u, sender.encryptInfo.dwFlags);
        EXPECT_EQ(1u, CallerMemory::live.count(sender.encryptInfo.EncryptedKey.pbData));

        const Bytes der = BytesOf(sender.encryptInfo.EncryptedKey);
        Asn1Context ctx{};
        ASSERT_EQ(0, rtInitContext(&ctx, nullptr));
        ContextGuard release(&ctx, rtFreeContext);
        GostR3410_KeyTransport transport{};
        ASSERT_EQ(0, xd_setp(&ctx, der.data(), static_cast<int>(der.size()), nullptr, nullptr));
        ASSERT_EQ(0, asn1D_GostR3410_KeyTransport(&ctx, &transport, ASN1EXPL, 0));
        EXPECT_THAT(Bytes(der.begin() + 3, der.begin() + 7), ElementsAre(0x30, 0x28, 0x04, 0x20));
        EXPECT_FALSE(transport.sessionEncryptedKey.m.maskKeyPresent);
        EXPECT_EQ(4u, transport.sessionEncryptedKey.macKey.numocts);
        ASSERT_TRUE(transport.m.transportParametersPresent);
        const GostR3410_TransportParameters &parameters = transport.transportParameters;
        EXPECT_EQ(8u, parameters.ukm.numocts);
        ASSERT_TRUE(parameters.m.ephemeralPublicKeyPresent);
        const AlgorithmIdentifier &ephemeral = parameters.ephemeralPublicKey.algorithm;
        char oid[128] = {};
        ASSERT_NE(0, rtOidToStr(&ephemeral.algorithm, oid, sizeof oid));
        EXPECT_EQ(v.algorithmOid, oid);
        EXPECT_EQ(v.params, Bytes(ephemeral.parameters.data,
                                  ephemeral.parameters.data + ephemeral.parameters.numocts));
        // Gost28147-89-Parameters: 30 L 04 08 <iv> 06 L <the content key's parameter set>.
        ASSERT_EQ(0, xe_setp(&ctx, nullptr, 0));
        const int cbOid = xe_objid(&ctx, &parameters.encryptionParamSet, ASN1EXPL);
        EXPECT_EQ(Bytes(content.parameters.begin() + 12, content.parameters.end()),
                  Bytes(xe_getp(&ctx), xe_getp(&ctx) + cbOid));

        Recipient recipient(v.keyPemPath);
        auto hKey = kvtest::NewScopedKey();
        ASSERT_TRUE(recipient.Import(der, content.parameters, hKey.get(), &dwError));
        EXPECT_EQ(plain_, kvtest::Decrypt(*hKey, kvtest::Encrypt(*content.hKey, plain_)));
    }
}

// Recipients the export refuses, each with its message and no code of the library's own; the
// caller's output stays as it was.
TEST_F(KeyTrans, ExportRefusals)
{
    const CmsVector &v = vectors_.at(0);
    const std::vector<kvtest::GostKeyVector> keys = kvtest::LoadGostKeyVectors();
    const kvtest::GostKeyVector &tc26 = keys.at(6); // 2012 256-bit TC26 set A: no digest set
    ASSERT_EQ("gost2012_256_TCA", tc26.name);
    struct Row {
        const char *name;
        std::string oid;
        Bytes params, publicKey;
        const char *message;
    } rows[] = {
        {"parameters without digestParamSet", tc26.algorithmOid, tc26.params, tc26.publicKey,
         "() asn1D_GostR3410_2001_PublicKeyParameters failed"},
        {"no parameters",
         v.algorithmOid,
         {},
         v.publicKey,
         "() asn1D_GostR3410_2001_PublicKeyParameters failed"},
        {"parameters cut short", v.algorithmOid, Bytes(v.params.begin(), v.params.end() - 1),
         v.publicKey, "() asn1D_GostR3410_2001_PublicKeyParameters failed"},
        {"key-exchange key OID", "1.2.643.2.2.98", v.params, v.publicKey,
         "() unsupported public key algorithm!"},
        {"OID CryptoAPI does not list", "1.2.643.2.2.997", v.params, v.publicKey,
         "() unsupported public key algorithm!"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        kvtest::ContentKey content;
        kvtest::MakeContentKey(*hSender_, &content);
        Sender sender(row.oid, row.params, row.publicKey);
        kvtest::ClearTrace();
        const kvtest::KeyWatch watch(*hSender_);
        DWORD dwError = 0;
        EXPECT_FALSE(sender.Export(&content.info, &dwError));
        watch.ExpectOnlyAlive({});
        EXPECT_EQ(kUntouched, dwError);
        EXPECT_EQ(nullptr, sender.encryptInfo.EncryptedKey.pbData);
        EXPECT_THAT(kvtest::TraceLines(),
                    ElementsAre(kvtest::TraceLineOf("OrvaMsgDllExportKeyTrans", row.message)));
    }
}

// Provider and allocator failures reach the caller with their own codes, nothing traced and
// every key of the call destroyed.
TEST_F(KeyTrans, ExportFailuresKeepTheirCodes)
{
    const CmsVector &v = vectors_.at(1);
    const CmsVector &other = vectors_.at(2); // a 512-bit key for a 256-bit curve
    struct Row {
        const char *name;
        const Bytes &publicKey;
        bool destroyContentKey;
        int failAlloc;
        DWORD error;
    } rows[] = {
        {"recipient key not on the curve", other.publicKey, false, 0, NTE_BAD_DATA},
        {"content key gone", v.publicKey, true, 0, NTE_BAD_KEY},
        {"allocator fails", v.publicKey, false, 1, CallerMemory::kAllocError},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        kvtest::ContentKey content;
        kvtest::MakeContentKey(*hSender_, &content);
        if (row.destroyContentKey) CryptDestroyKey(*content.hKey);
        CallerMemory::Reset(row.failAlloc);
        Sender sender(v.algorithmOid, v.params, row.publicKey);
        kvtest::ClearTrace();
        const kvtest::KeyWatch watch(*hSender_);
        DWORD dwError = 0;
        EXPECT_FALSE(sender.Export(&content.info, &dwError));
        watch.ExpectOnlyAlive({});
        EXPECT_EQ(row.error, dwError);
        EXPECT_THAT(CallerMemory::live, IsEmpty());
        EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
    }
}

// Key transports the import refuses: what decodes badly is traced, what decodes but does not
// fit is refused silently, and the provider's answer to a wrong MAC or key stays the code. No
// content key is left behind.
TEST_F(KeyTrans, ImportRefusals)
{
    const CmsVector &v = vectors_.at(0);
    // openssl's key transport: 30 81 A4, the 42-byte sessionEncryptedKey (30 28 04 20 <key>
    // 04 04 <MAC>), then [0] transportParameters.
    const Bytes &openssl = v.encryptedKey;
    ASSERT_EQ(0x81, openssl.at(1));
    const Bytes wrapped(openssl.begin() + 7, openssl.begin() + 39);
    const Bytes mac(openssl.begin() + 41, openssl.begin() + 45);
    const Bytes transportParameters(openssl.begin() + 45, openssl.end());
    const Bytes sessionKey = Der(0x30, Cat({Der(0x04, wrapped), Der(0x04, mac)}));
    Bytes badMac = openssl;
    badMac.at(44) ^= 0x80;
    // transportParameters without the ephemeral key: 06 <parameter set> and 04 08 <UKM>.
    ASSERT_LT(transportParameters.at(1), 0x80); // A0 L: a short length
    const Bytes paramSet(transportParameters.begin() + 2,
                         transportParameters.begin() + 4 + transportParameters.at(3));
    const Bytes ukm(transportParameters.end() - 10, transportParameters.end());
    const Bytes noEphemeral = Der(0xA0, Cat({paramSet, ukm}));
    const Bytes withMask =
        Der(0x30, Cat({Der(0x30, Cat({Der(0x04, wrapped), Der(0x80, wrapped), Der(0x04, mac)})),
                       transportParameters}));
    const Bytes shortIv = {0x30, 0x14, 0x04, 0x07, 1,    2,    3,    4,    5,    6,    7,
                           0x06, 0x09, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x05, 0x01, 0x01};
    const CmsVector &otherRecipient = vectors_.at(1);

    struct Row {
        const char *name;
        const CmsVector &recipient;
        Bytes encryptedKey, contentParams;
        DWORD error;
        const char *message; // null: nothing traced
    } rows[] = {
        {"not a key transport",
         v,
         {0x04, 0x00},
         v.contentParams,
         kUntouched,
         "() asn1D_GostR3410_KeyTransport failed"},
        {"empty key transport",
         v,
         {},
         v.contentParams,
         kUntouched,
         "() asn1D_GostR3410_KeyTransport failed"},
        {"content parameters with a 7-byte IV", v, openssl, shortIv, kUntouched,
         "() asn1D_Gost28147_89_Parameters failed"},
        {"no transportParameters", v, Der(0x30, sessionKey), v.contentParams, kUntouched, nullptr},
        {"no ephemeralPublicKey", v, Der(0x30, Cat({sessionKey, noEphemeral})), v.contentParams,
         kUntouched, nullptr},
        {"maskKey present", v, withMask, v.contentParams, kUntouched, nullptr},
        {"MAC does not match", v, badMac, v.contentParams, NTE_BAD_DATA, nullptr},
        {"another recipient's container", otherRecipient, openssl, v.contentParams, NTE_BAD_DATA,
         nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Recipient recipient(row.recipient.keyPemPath);
        kvtest::ClearTrace();
        const kvtest::KeyWatch watch(*recipient.hProv);
        HCRYPTKEY hKey = 0;
        DWORD dwError = 0;
        EXPECT_FALSE(recipient.Import(row.encryptedKey, row.contentParams, &hKey, &dwError));
        watch.ExpectOnlyAlive({});
        EXPECT_EQ(0u, hKey);
        EXPECT_EQ(row.error, dwError);
        if (row.message)
            EXPECT_THAT(kvtest::TraceLines(),
                        ElementsAre(kvtest::TraceLineOf("OrvaMsgDllImportKeyTrans", row.message)));
        else
            EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
    }
}

// A provider without the recipient's key: CryptGetUserKey's code, before anything is decoded.
TEST_F(KeyTrans, ImportWithoutKeyPair)
{
    const CmsVector &v = vectors_.at(0);
    const Bytes notDecoded = {0x04, 0x00};
    CMSG_KEY_TRANS_RECIPIENT_INFO keyTrans{};
    keyTrans.EncryptedKey = kvtest::BlobOf(notDecoded);
    CMSG_CTRL_KEY_TRANS_DECRYPT_PARA para{};
    para.hCryptProv = *hSender_;
    para.pKeyTrans = &keyTrans;
    CRYPT_ALGORITHM_IDENTIFIER content = {const_cast<LPSTR>(kvtest::kGost28147Oid),
                                          kvtest::BlobOf(v.contentParams)};
    HCRYPTKEY hKey = 0xBAD;
    SetLastError(0);
    EXPECT_FALSE(OrvaMsgDllImportKeyTrans(&content, &para, 0, nullptr, &hKey));
    EXPECT_EQ(0u, hKey);
    EXPECT_EQ(DWORD{NTE_NO_KEY}, GetLastError());
    EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
}

} // namespace

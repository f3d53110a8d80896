// Key agreement: what the export hands CryptoAPI for a KeyAgreeRecipientInfo, the import of
// such a recipient info in the recipient's container, and what each refuses.
#include "keys/KeyHelpers.h"

#include "CmsTestSupport.h"

#include <map>

using kvtest::Bytes;
using kvtest::BytesOf;
using kvtest::CallerMemory;
using kvtest::Cat;
using kvtest::CmsVector;
using kvtest::Der;
using kvtest::DerOid;
using kvtest::kUntouched;
using kvtest::Outcome;
using Sender = kvtest::KeyAgreeSender;
using RecipientInfo = kvtest::KeyAgreeRecipientInfo;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

constexpr char kNoneKeyWrap[] = "1.2.643.2.2.13.0";
constexpr char kKelvarineKeyWrap[] = "1.2.643.2.2.13.1";
constexpr char kDefaultCipherParamSet[] = "1.2.643.2.2.31.1"; // the provider's

// AlgorithmIdentifier { key wrap, Gost28147-89-KeyWrapParameters { parameter set } }.
Bytes KeyWrapAlgorithm(const char *keyWrap, const char *paramSet)
{
    return Der(0x30, Cat({DerOid(keyWrap), Der(0x30, DerOid(paramSet))}));
}

// The sender works in a container of its own, the recipient in its; a content key of the
// sender's for every test.
class KeyAgree : public kvtest::CmsTest {
  protected:
    void SetUp() override
    {
        hSender_ = kvtest::AcquireProvider(&keys_.at(1).keyPemPath);
        CmsTest::SetUp();
        ASSERT_TRUE(kvtest::MakeContentKey(*hSender_, &content_).ok);
    }
    // The recipient's content key encrypts what the sender's decrypts back.
    void ExpectSameKey(HCRYPTKEY hReceived)
    {
        EXPECT_EQ(plain_, kvtest::Decrypt(hReceived, kvtest::Encrypt(*content_.hKey, plain_)));
    }
    const std::vector<kvtest::GostKeyVector> keys_ = kvtest::LoadGostKeyVectors();
    kvtest::ContentKey content_;
};

// Export for each curve, then import in the recipient's container: the key-encryption text
// rewritten, the pieces CryptoAPI encodes in their DER shapes and blocks, only the first
// recipient key served, and no key of either call left but the content key handed out.
TEST_F(KeyAgree, RoundTrip)
{
    struct Row {
        const CmsVector &recipient;
        const char *keyEncryptionOid;
        const char *rewritten;
    } rows[] = {
        {vectors_.at(0), "1.2.643.2.2.19", "1.2.643.2.2.96"},
        {vectors_.at(0), "1.2.643.2.2.96", "1.2.643.2.2.96"},
        {vectors_.at(1), "1.2.643.7.1.1.1.1", "1.2.643.7.1.1.6.1"},
        {vectors_.at(2), "1.2.643.7.1.1.1.2", "1.2.643.7.1.1.6.1"},
    };
    for (const Row &row : rows) {
        const CmsVector &v = row.recipient;
        SCOPED_TRACE(std::string(v.name) + " " + row.keyEncryptionOid);
        CallerMemory::Reset();
        Sender sender(row.keyEncryptionOid, v.algorithmOid, v.params, v.publicKey);
        const kvtest::KeyWatch senderKeys(*hSender_);
        const Outcome exported = sender.Export(&content_.info);
        ASSERT_TRUE(exported.ok);
        senderKeys.ExpectOnlyAlive({});
        EXPECT_EQ(kUntouched, exported.error);
        EXPECT_STREQ(row.rewritten, sender.keyEncryptionOid.data());

        const CMSG_KEY_AGREE_ENCRYPT_INFO &out = sender.encryptInfo;
        EXPECT_EQ(0x1Bu, out.dwFlags); // parameters, UKM, originator parameters and key
        EXPECT_EQ(nullptr, out.KeyEncryptionAlgorithm.pszObjId);
        EXPECT_EQ(KeyWrapAlgorithm(kNoneKeyWrap, kDefaultCipherParamSet),
                  BytesOf(out.KeyEncryptionAlgorithm.Parameters));
        EXPECT_EQ(8u, out.UserKeyingMaterial.cbData);
        const Bytes encryptedKey = BytesOf(sender.keyEncryptInfos[0].EncryptedKey);
        ASSERT_EQ(42u, encryptedKey.size());
        EXPECT_THAT(Bytes(encryptedKey.begin(), encryptedKey.begin() + 4),
                    ElementsAre(0x30, 0x28, 0x04, 0x20));
        EXPECT_THAT(Bytes(encryptedKey.begin() + 36, encryptedKey.begin() + 38),
                    ElementsAre(0x04, 0x04));
        EXPECT_EQ(nullptr, sender.keyEncryptInfos[1].EncryptedKey.pbData);
        EXPECT_EQ(DWORD{CMSG_KEY_AGREE_ORIGINATOR_PUBLIC_KEY}, out.dwOriginatorChoice);
        const CERT_PUBLIC_KEY_INFO &originator = out.OriginatorPublicKeyInfo;
        EXPECT_STREQ(v.algorithmOid.c_str(), originator.Algorithm.pszObjId); // the same curve
        EXPECT_EQ(v.params, BytesOf(originator.Algorithm.Parameters));
        EXPECT_EQ(v.publicKey.size(), originator.PublicKey.cbData);
        EXPECT_EQ(5u, CallerMemory::live.size()); // the key-wrap parameters' block went back

        const RecipientInfo received = kvtest::ReceivedFrom(sender);
        const auto hRecipient = kvtest::AcquireProvider(&v.keyPemPath);
        const kvtest::KeyWatch recipientKeys(*hRecipient);
        auto hKey = kvtest::NewScopedKey();
        const Outcome imported = kvtest::ImportKeyAgree(*hRecipient, AT_KEYEXCHANGE, received,
                                                        content_.parameters, hKey.get());
        ASSERT_TRUE(imported.ok);
        recipientKeys.ExpectOnlyAlive({*hKey});
        EXPECT_EQ(kUntouched, imported.error);
        ExpectSameKey(*hKey);
        sender.ReleaseByFlags();
        EXPECT_THAT(CallerMemory::live, IsEmpty());
    }
    EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
}

// The diversifying key wrap, with a recipient info the provider's own calls put together: the
// import opens it for the 2001 key-agreement text only.
TEST_F(KeyAgree, DiversifyingKeyWrap)
{
    const CmsVector &v = vectors_.at(0);
    auto hEphemeral = kvtest::NewScopedKey();
    ASSERT_TRUE(CryptGenKey(*hSender_, ALG_GOST_DH_2001_EPHEM, CRYPT_EXPORTABLE | CRYPT_PREGEN,
                            hEphemeral.get()));
    const char *kPubKeyParamSet = "1.2.643.2.2.35.1", *kHashParamSet = "1.2.643.2.2.30.1";
    ASSERT_TRUE(CryptSetKeyParam(*hEphemeral, KP_GOST_PUBKEY_PARAMSET,
                                 reinterpret_cast<const BYTE *>(kPubKeyParamSet), 0));
    ASSERT_TRUE(CryptSetKeyParam(*hEphemeral, KP_GOST_HASH_PARAMSET,
                                 reinterpret_cast<const BYTE *>(kHashParamSet), 0));
    ASSERT_TRUE(CryptSetKeyParam(*hEphemeral, KP_X, nullptr, 0));
    CERT_PUBLIC_KEY_INFO recipientInfo = {
        {const_cast<LPSTR>(v.algorithmOid.c_str()), kvtest::BlobOf(v.params)},
        {static_cast<DWORD>(v.publicKey.size()), const_cast<BYTE *>(v.publicKey.data()), 0}};
    auto hAgree = kvtest::NewScopedKey();
    ASSERT_TRUE(OrvaImportPublicKeyInfoEx(*hSender_, &recipientInfo, *hEphemeral, hAgree.get()));
    const ALG_ID divers = ALG_GOST_KEY_WRAP_DIVERS;
    ASSERT_TRUE(CryptSetKeyParam(*hAgree, KP_ALGID, reinterpret_cast<const BYTE *>(&divers), 0));
    Bytes exported(256); // the 60-byte blob and the wrapped key's parameters after it
    DWORD cbBlob = static_cast<DWORD>(exported.size());
    ASSERT_TRUE(CryptExportKey(*content_.hKey, *hAgree, SIMPLEBLOB, 0, exported.data(), &cbBlob));
    GOST_SIMPLEBLOB blob{};
    std::memcpy(&blob, exported.data(), sizeof blob);
    CERT_PUBLIC_KEY_INFO originator{};
    ASSERT_TRUE(OrvaExportPublicKeyInfo(*hEphemeral, &originator, CallerMemory::Alloc));

    RecipientInfo info{"",
                       KeyWrapAlgorithm(kKelvarineKeyWrap, kDefaultCipherParamSet),
                       Bytes(blob.bUkm, blob.bUkm + 8),
                       Der(0x30, Cat({Der(0x04, Bytes(blob.bEncryptedKey, blob.bEncryptedKey + 32)),
                                      Der(0x04, Bytes(blob.bMacKey, blob.bMacKey + 4))})),
                       originator.Algorithm.pszObjId,
                       BytesOf(originator.Algorithm.Parameters),
                       BytesOf({originator.PublicKey.cbData, originator.PublicKey.pbData})};
    const auto hRecipient = kvtest::AcquireProvider(&v.keyPemPath);
    for (const char *text : {"1.2.643.2.2.96", "1.2.643.2.2.19", "1.2.643.7.1.1.6.1"}) {
        SCOPED_TRACE(text);
        info.keyEncryptionOid = text;
        auto hKey = kvtest::NewScopedKey();
        const Outcome imported = kvtest::ImportKeyAgree(*hRecipient, AT_KEYEXCHANGE, info,
                                                        content_.parameters, hKey.get());
        const bool accepted = std::string(text) == "1.2.643.2.2.96";
        EXPECT_EQ(accepted, imported.ok);
        EXPECT_EQ(accepted ? kUntouched : CRYPT_E_ASN1_ERROR, imported.error);
        if (accepted) ExpectSameKey(*hKey);
    }
    EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
}

// Algorithm combinations and caller structures the export refuses
// (cms/keyagree-export-refusals.txt), each with its message and code: only an ephemeral
// originator is made, and the first recipient key and key-encrypt info must be there. The
// caller's key-encryption text is left alone and no key stays.
TEST_F(KeyAgree, ExportRefusals)
{
    const CmsVector &v = vectors_.at(0);
    CRYPT_OID_INFO ephemeralOnly{}; // an OID CryptoAPI lists with ALG_GOST_DH_2001_EPHEM
    ephemeralOnly.pszOID = "1.2.643.2.2.925";
    ephemeralOnly.dwGroupId = CRYPT_PUBKEY_ALG_OID_GROUP_ID;
    ephemeralOnly.Algid = ALG_GOST_DH_2001_EPHEM;
    ASSERT_TRUE(CryptRegisterOIDInfo(&ephemeralOnly, 0));
    const std::map<std::string, void (*)(Sender *)> changes = {
        {"static originator",
         [](Sender *s) { s->encodeInfo.dwKeyChoice = CMSG_KEY_AGREE_STATIC_KEY_CHOICE; }},
        {"no recipient keys", [](Sender *s) { s->encodeInfo.rgpRecipientEncryptedKeys = nullptr; }},
        {"no key-encrypt info", [](Sender *s) { s->rgpKeyEncryptInfos[0] = nullptr; }},
    };
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("cms/keyagree-export-refusals.txt")) {
        SCOPED_TRACE(c.where);
        const std::string keyEncryptionOid = c.Get("KeyEncryptionOid", "1.2.643.2.2.19");
        Sender sender(keyEncryptionOid, c.Get("EphemeralOid", v.algorithmOid),
                      c.Has("EphemeralParams") ? kvtest::HexOrFile(c, "EphemeralParams") : v.params,
                      v.publicKey);
        if (c.Has("Change")) changes.at(c.Get("Change"))(&sender);
        kvtest::ClearTrace();
        const kvtest::KeyWatch watch(*hSender_);
        const Outcome exported = sender.Export(&content_.info);
        EXPECT_FALSE(exported.ok);
        watch.ExpectOnlyAlive({});
        EXPECT_EQ(static_cast<DWORD>(c.Number("Error", "0x5EED")), exported.error);
        EXPECT_EQ(keyEncryptionOid, sender.keyEncryptionOid.data());
        EXPECT_EQ(0u, sender.encryptInfo.dwFlags);
        if (c.Has("Trace"))
            EXPECT_THAT(kvtest::TraceLines(), ElementsAre(kvtest::TraceLineOf(
                                                  "OrvaMsgDllExportKeyAgree", c.Get("Trace"))));
        else
            EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
    }
    EXPECT_TRUE(CryptUnregisterOIDInfo(&ephemeralOnly));
}

// Each allocation of the export fails in turn: E_OUTOFMEMORY, and every block already stored is
// one the flags give CryptoAPI to release. A provider failure keeps the provider's code.
TEST_F(KeyAgree, ExportFailures)
{
    const CmsVector &v = vectors_.at(0);
    {
        Sender probe("1.2.643.2.2.19", v.algorithmOid, v.params, v.publicKey);
        CallerMemory::Reset();
        ASSERT_TRUE(probe.Export(&content_.info).ok);
        ASSERT_EQ(6, CallerMemory::count);
    }
    for (int failAt = 1; failAt <= 6; ++failAt) {
        SCOPED_TRACE(failAt);
        CallerMemory::Reset(failAt);
        Sender sender("1.2.643.2.2.19", v.algorithmOid, v.params, v.publicKey);
        const kvtest::KeyWatch watch(*hSender_);
        const Outcome exported = sender.Export(&content_.info);
        EXPECT_FALSE(exported.ok);
        watch.ExpectOnlyAlive({});
        EXPECT_EQ(DWORD{E_OUTOFMEMORY}, exported.error);
        sender.ReleaseByFlags();
        EXPECT_THAT(CallerMemory::live, IsEmpty());
    }
    CallerMemory::Reset();
    kvtest::ContentKey gone;
    ASSERT_TRUE(kvtest::MakeContentKey(*hSender_, &gone).ok);
    CryptDestroyKey(*gone.hKey);
    Sender sender("1.2.643.2.2.19", v.algorithmOid, v.params, v.publicKey);
    CallerMemory::Reset();
    const Outcome exported = sender.Export(&gone.info);
    EXPECT_FALSE(exported.ok);
    EXPECT_EQ(DWORD{NTE_BAD_KEY}, exported.error);
    EXPECT_EQ(0u, sender.encryptInfo.dwFlags);
    EXPECT_THAT(CallerMemory::live, IsEmpty());
    EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
}

// The hex of a case's key with <wrapped>, <mac> and <ukm> standing for the exported pieces.
Bytes Expanded(const kvtest::FileCase &c, const std::string &key, const RecipientInfo &exported)
{
    const Bytes &encryptedKey = exported.encryptedKey; // 30 28 04 20 <key> 04 04 <MAC>
    const std::pair<std::string, Bytes> pieces[] = {
        {"<wrapped>", Bytes(encryptedKey.begin() + 4, encryptedKey.begin() + 36)},
        {"<mac>", Bytes(encryptedKey.end() - 4, encryptedKey.end())},
        {"<ukm>", exported.ukm},
    };
    std::string text = c.Get(key);
    for (const auto &[name, bytes] : pieces)
        for (size_t at; (at = text.find(name)) != std::string::npos;)
            text.replace(at, name.size(), kvtest::ToHex(bytes));
    return kvtest::FromHex(text);
}

// Recipient infos the import refuses (cms/keyagree-import-refusals.txt), one piece changed at a
// time from one that opens; no key is left but the one handed out.
TEST_F(KeyAgree, ImportRefusals)
{
    const CmsVector &v = vectors_.at(0);
    Sender sender("1.2.643.2.2.19", v.algorithmOid, v.params, v.publicKey);
    ASSERT_TRUE(sender.Export(&content_.info).ok);
    const RecipientInfo exported = kvtest::ReceivedFrom(sender);
    const auto hRecipient = kvtest::AcquireProvider(&v.keyPemPath);
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("cms/keyagree-import-refusals.txt")) {
        SCOPED_TRACE(c.where);
        RecipientInfo info = exported;
        info.keyEncryptionOid = c.Get("KeyEncryptionOid", info.keyEncryptionOid);
        info.nullKeyEncryptionOid = info.keyEncryptionOid == "none";
        if (c.Has("KeyEncryptionParams"))
            info.keyEncryptionParams = Expanded(c, "KeyEncryptionParams", exported);
        if (c.Has("EncryptedKey")) info.encryptedKey = Expanded(c, "EncryptedKey", exported);
        info.noUkm = c.Get("UKM", "") == "none";
        if (c.Has("UKM") && !info.noUkm) info.ukm = Expanded(c, "UKM", exported);
        if (c.Has("Originator")) info.originatorChoice = CMSG_KEY_AGREE_ORIGINATOR_CERT;
        const DWORD keySpec = c.Has("KeySpec") ? AT_SIGNATURE : AT_KEYEXCHANGE;
        const Bytes contentParams =
            c.Has("ContentParams") ? c.Hex("ContentParams") : content_.parameters;
        kvtest::ClearTrace();
        const kvtest::KeyWatch watch(*hRecipient);
        auto hKey = kvtest::NewScopedKey();
        const Outcome imported =
            kvtest::ImportKeyAgree(*hRecipient, keySpec, info, contentParams, hKey.get());
        EXPECT_EQ(c.Has("Opens"), imported.ok);
        EXPECT_EQ(static_cast<DWORD>(c.Number("Error", "0x5EED")), imported.error);
        if (imported.ok) {
            watch.ExpectOnlyAlive({*hKey});
            ExpectSameKey(*hKey);
        } else {
            watch.ExpectOnlyAlive({});
            EXPECT_EQ(0u, *hKey);
        }
        if (c.Has("Trace"))
            EXPECT_THAT(kvtest::TraceLines(), ElementsAre(kvtest::TraceLineOf(
                                                  "OrvaMsgDllImportKeyAgree", c.Get("Trace"))));
        else
            EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
    }
}

} // namespace

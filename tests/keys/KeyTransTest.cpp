// Key transport against OpenSSL's GOST engine in both directions: envelopes `openssl cms
// -encrypt` made for GOST R 34.10-2001 and 2012 recipients open with the library's import, and
// envelopes built here around the library's export open with `openssl cms -decrypt`.
#include "CmsTestSupport.h"

#include <filesystem>

using kvtest::Bytes;
using kvtest::BytesOf;
using kvtest::CallerMemory;
using kvtest::Cat;
using kvtest::CmsVector;
using kvtest::Der;
using kvtest::DerOid;
using kvtest::kUntouched;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

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

bool OpenSslWithGostEngine()
{
    return std::system("openssl engine gost -t >/dev/null 2>&1") == 0;
}

// What `openssl cms -decrypt` makes of an envelope for v's recipient, in a temporary directory.
Bytes OpenSslDecrypt(const CmsVector &v, const Bytes &envelope)
{
    const char *tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp ? tmp : "/tmp") + "/kvext-cms-XXXXXX";
    if (!mkdtemp(dir.data())) return {};
    const std::string in = dir + "/env.der", out = dir + "/out";
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char *>(envelope.data()),
               static_cast<std::streamsize>(envelope.size()));
    const std::string command = "openssl cms -decrypt -engine gost -inform DER -in " + in +
                                " -recip " + v.certPemPath + " -inkey " + v.keyPemPath + " -out " +
                                out + " 2>/dev/null";
    EXPECT_EQ(0, std::system(command.c_str()));
    std::ifstream decrypted(out, std::ios::binary);
    const Bytes plain(std::istreambuf_iterator<char>(decrypted), {});
    std::filesystem::remove_all(dir);
    return plain;
}

using KeyTrans = kvtest::CmsTest;

// openssl's envelope for each recipient: the key transport opens with the recipient's
// container, and the content key decrypts openssl's ciphertext (GOST 28147-89 CFB with key
// meshing over 1500 bytes, parameter set Z) to the plaintext. The key takes its IV from the
// content-encryption parameters: with another IV only the first CFB block comes out otherwise.
TEST_F(KeyTrans, ImportsWhatOpenSslEncrypted)
{
    for (const CmsVector &v : vectors_) {
        SCOPED_TRACE(v.name);
        const auto hRecipient = kvtest::AcquireProvider(&v.keyPemPath);
        ASSERT_NE(0u, *hRecipient);
        const kvtest::KeyWatch watch(*hRecipient);
        auto hKey = kvtest::NewScopedKey(), hOtherIv = kvtest::NewScopedKey();
        const kvtest::Outcome imported =
            kvtest::ImportKeyTrans(*hRecipient, v.encryptedKey, v.contentParams, hKey.get());
        ASSERT_TRUE(imported.ok);
        EXPECT_EQ(kUntouched, imported.error);
        EXPECT_EQ(plain_, kvtest::Decrypt(*hKey, v.ciphertext));
        Bytes otherIv = v.contentParams; // 30 15 04 08 <iv> 06 09 <parameter set>
        otherIv.at(4) ^= 0x01;
        ASSERT_TRUE(
            kvtest::ImportKeyTrans(*hRecipient, v.encryptedKey, otherIv, hOtherIv.get()).ok);
        const Bytes decrypted = kvtest::Decrypt(*hOtherIv, v.ciphertext);
        EXPECT_NE(Bytes(plain_.begin(), plain_.begin() + 8),
                  Bytes(decrypted.begin(), decrypted.begin() + 8));
        EXPECT_TRUE(std::equal(plain_.begin() + 8, plain_.end(), decrypted.begin() + 8));
        watch.ExpectOnlyAlive({*hKey, *hOtherIv});
    }
    EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
}

// The library's content key on any cipher parameter set, and its key transport, around content
// CryptEncrypt encrypted: the set travels in the key transport, and the recipient's container
// and openssl both open the envelope, for each recipient. The export writes nothing but the
// encrypted key, in a block of the caller's, and no key of the call outlives it.
TEST_F(KeyTrans, EveryContentCipherSetOpensHereAndInOpenSsl)
{
    const bool withOpenSsl = OpenSslWithGostEngine();
    for (const char *paramSet : {"1.2.643.2.2.31.1", "1.2.643.2.2.31.2", "1.2.643.2.2.31.3",
                                 "1.2.643.2.2.31.4", "1.2.643.7.1.2.5.1.1"}) {
        for (const CmsVector &v : vectors_) {
            SCOPED_TRACE(v.name + " " + paramSet);
            kvtest::ContentKey content;
            ASSERT_TRUE(kvtest::MakeContentKey(*hSender_, &content).ok);
            ASSERT_TRUE(CryptSetKeyParam(*content.hKey, KP_GOST_CIPHER_PARAMSET,
                                         reinterpret_cast<const BYTE *>(paramSet), 0));
            // Gost28147-89-Parameters ::= SEQUENCE { iv OCTET STRING (8), encryptionParamSet }
            const Bytes iv(content.parameters.begin() + 4, content.parameters.begin() + 12);
            const Bytes contentParams = Der(0x30, Cat({Der(0x04, iv), DerOid(paramSet)}));
            kvtest::KeyTransSender sender(v.algorithmOid, v.params, v.publicKey);
            sender.encryptInfo.KeyEncryptionAlgorithm.pszObjId = const_cast<LPSTR>("2.5.4.3");
            sender.encryptInfo.dwFlags = 0x40;
            const kvtest::KeyWatch watch(*hSender_);
            const kvtest::Outcome exported = sender.Export(&content.info);
            ASSERT_TRUE(exported.ok);
            watch.ExpectOnlyAlive({});
            EXPECT_EQ(kUntouched, exported.error);
            EXPECT_STREQ("2.5.4.3", sender.encryptInfo.KeyEncryptionAlgorithm.pszObjId);
            EXPECT_EQ(0u, sender.encryptInfo.KeyEncryptionAlgorithm.Parameters.cbData);
            EXPECT_EQ(0x40u, sender.encryptInfo.dwFlags);
            EXPECT_EQ(1u, CallerMemory::live.count(sender.encryptInfo.EncryptedKey.pbData));
            const Bytes encryptedKey = BytesOf(sender.encryptInfo.EncryptedKey);
            const Bytes ciphertext = kvtest::Encrypt(*content.hKey, plain_);

            const auto hRecipient = kvtest::AcquireProvider(&v.keyPemPath);
            auto hKey = kvtest::NewScopedKey();
            const kvtest::Outcome imported =
                kvtest::ImportKeyTrans(*hRecipient, encryptedKey, contentParams, hKey.get());
            ASSERT_TRUE(imported.ok) << std::hex << imported.error;
            EXPECT_EQ(plain_, kvtest::Decrypt(*hKey, ciphertext));
            if (!withOpenSsl) continue;
            const Bytes envelope = Envelope(v, encryptedKey, contentParams, ciphertext);
            EXPECT_EQ(plain_, OpenSslDecrypt(v, envelope));
        }
    }
}

// Recipients the export refuses (cms/keytrans-export-refusals.txt): what decodes badly or names
// no usable algorithm is traced with no code of the library's own; the provider's and the
// allocator's failures keep their codes. The caller's output stays as it was, and no key or
// block is left.
TEST_F(KeyTrans, ExportRefusals)
{
    const CmsVector &v = vectors_.at(0);
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("cms/keytrans-export-refusals.txt")) {
        SCOPED_TRACE(c.where);
        kvtest::ContentKey content;
        ASSERT_TRUE(kvtest::MakeContentKey(*hSender_, &content).ok);
        if (c.Has("DestroyContentKey")) CryptDestroyKey(*content.hKey);
        CallerMemory::Reset(static_cast<int>(c.Number("FailAlloc", "0")));
        kvtest::KeyTransSender sender(c.Get("OID", v.algorithmOid),
                                      c.Has("Params") ? kvtest::HexOrFile(c, "Params") : v.params,
                                      c.Has("PublicKey") ? kvtest::HexOrFile(c, "PublicKey")
                                                         : v.publicKey);
        kvtest::ClearTrace();
        const kvtest::KeyWatch watch(*hSender_);
        const kvtest::Outcome exported = sender.Export(&content.info);
        EXPECT_FALSE(exported.ok);
        watch.ExpectOnlyAlive({});
        EXPECT_EQ(static_cast<DWORD>(c.Number("Error", "0x5EED")), exported.error);
        EXPECT_EQ(nullptr, sender.encryptInfo.EncryptedKey.pbData);
        EXPECT_THAT(CallerMemory::live, IsEmpty());
        if (c.Has("Trace"))
            EXPECT_THAT(kvtest::TraceLines(), ElementsAre(kvtest::TraceLineOf(
                                                  "OrvaMsgDllExportKeyTrans", c.Get("Trace"))));
        else
            EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
    }
}

// Key transports the import refuses (cms/keytrans-import-refusals.txt): what decodes badly is
// traced, what decodes but does not fit is refused silently, and the provider's answer to a
// wrong MAC or key stays the code. No content key is left behind.
TEST_F(KeyTrans, ImportRefusals)
{
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("cms/keytrans-import-refusals.txt")) {
        SCOPED_TRACE(c.where);
        const std::string container = c.Get("Container", "gost2001_A");
        const std::string keyPemPath = kvtest::DataPath("cms/" + container + ".key.pem");
        const auto hRecipient =
            kvtest::AcquireProvider(container == "none" ? nullptr : &keyPemPath);
        ASSERT_NE(0u, *hRecipient);
        const CmsVector &v = vectors_.at(0);
        kvtest::ClearTrace();
        const kvtest::KeyWatch watch(*hRecipient);
        HCRYPTKEY hKey = 0;
        const kvtest::Outcome imported = kvtest::ImportKeyTrans(
            *hRecipient, c.Has("EncryptedKey") ? c.Hex("EncryptedKey") : v.encryptedKey,
            c.Has("ContentParams") ? c.Hex("ContentParams") : v.contentParams, &hKey);
        EXPECT_FALSE(imported.ok);
        watch.ExpectOnlyAlive({});
        EXPECT_EQ(0u, hKey);
        EXPECT_EQ(static_cast<DWORD>(c.Number("Error", "0x5EED")), imported.error);
        if (c.Has("Trace"))
            EXPECT_THAT(kvtest::TraceLines(), ElementsAre(kvtest::TraceLineOf(
                                                  "OrvaMsgDllImportKeyTrans", c.Get("Trace"))));
        else
            EXPECT_THAT(kvtest::TraceLines(), IsEmpty());
    }
}

} // namespace

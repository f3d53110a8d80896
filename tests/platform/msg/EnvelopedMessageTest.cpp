// The enveloped-data message functions over the library's registered key-management functions:
// what they encode opens again, streamed or not, in pieces of any size, and every provider key
// and context they make is gone when the message is closed, on the failure paths too (the
// provider's live-object count is back where it was).
#include <gostcsp.h>
#include <kvcsp_testing.h>
#include <wincrypt.h>

#include "common/TraceFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct Recipient {
    std::string name, oid;
    Bytes params, publicKey;
    std::string keyPem;
};

Recipient LoadRecipient(const std::string &name, const std::string &oid)
{
    const std::string base = "cms/" + name;
    return {name, oid, kvtest::ReadDataFile(base + ".params.der"),
            kvtest::ReadDataFile(base + ".pubkey.der"), kvtest::DataPath(base + ".key.pem")};
}

BOOL WINAPI Collect(const void *pvArg, BYTE *pbData, DWORD cbData, BOOL)
{
    auto *out = static_cast<Bytes *>(const_cast<void *>(pvArg));
    out->insert(out->end(), pbData, pbData + cbData);
    return TRUE;
}

// The encode info of one recipient, by key transport or key agreement; rid is a key identifier.
struct EncodeInfo {
    BYTE keyId[2] = {0x4B, 0x56};
    CERT_ID id{};
    CRYPT_ALGORITHM_IDENTIFIER algorithm{};
    CMSG_KEY_TRANS_RECIPIENT_ENCODE_INFO keyTrans{};
    CMSG_RECIPIENT_ENCRYPTED_KEY_ENCODE_INFO encryptedKey{};
    PCMSG_RECIPIENT_ENCRYPTED_KEY_ENCODE_INFO pEncryptedKey = &encryptedKey;
    CMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO keyAgree{};
    CMSG_RECIPIENT_ENCODE_INFO recipient{};
    CMSG_ENVELOPED_ENCODE_INFO info{};

    EncodeInfo(Recipient &r, bool agree)
    {
        id.dwIdChoice = CERT_ID_KEY_IDENTIFIER;
        id.KeyId = {sizeof keyId, keyId};
        algorithm = {r.oid.data(), {static_cast<DWORD>(r.params.size()), r.params.data()}};
        const CRYPT_BIT_BLOB key = {static_cast<DWORD>(r.publicKey.size()), r.publicKey.data(), 0};
        if (agree) {
            encryptedKey = {sizeof encryptedKey, key, id, {}, nullptr};
            keyAgree.cbSize = sizeof keyAgree;
            keyAgree.KeyEncryptionAlgorithm.pszObjId = r.oid.data();
            keyAgree.dwKeyChoice = CMSG_KEY_AGREE_EPHEMERAL_KEY_CHOICE;
            keyAgree.pEphemeralAlgorithm = &algorithm;
            keyAgree.cRecipientEncryptedKeys = 1;
            keyAgree.rgpRecipientEncryptedKeys = &pEncryptedKey;
            recipient.dwRecipientChoice = CMSG_KEY_AGREE_RECIPIENT;
            recipient.pKeyAgree = &keyAgree;
        } else {
            keyTrans = {sizeof keyTrans, algorithm, nullptr, 0, key, id};
            recipient.dwRecipientChoice = CMSG_KEY_TRANS_RECIPIENT;
            recipient.pKeyTrans = &keyTrans;
        }
        info.cbSize = sizeof info;
        info.ContentEncryptionAlgorithm.pszObjId = const_cast<LPSTR>("1.2.643.2.2.21");
        info.cRecipients = 1;
        info.rgCmsRecipients = &recipient;
    }
};

// The envelope of plain for r, in updates of `chunk` octets; streamed with indefinite lengths
// when `stream` is set. Empty when the message does not open.
Bytes Envelope(Recipient &r, bool agree, const Bytes &plain, size_t chunk, bool stream)
{
    EncodeInfo encode(r, agree);
    Bytes out;
    CMSG_STREAM_INFO streamInfo = {CMSG_INDEFINITE_LENGTH, Collect, &out};
    HCRYPTMSG hMsg = CryptMsgOpenToEncode(kEncoding, 0, CMSG_ENVELOPED, &encode.info, nullptr,
                                          stream ? &streamInfo : nullptr);
    if (!hMsg) return {};
    for (size_t at = 0; at < plain.size() || at == 0; at += chunk) {
        const size_t cb = std::min(chunk, plain.size() - at);
        EXPECT_TRUE(CryptMsgUpdate(hMsg, plain.data() + at, static_cast<DWORD>(cb),
                                   at + cb >= plain.size()));
        if (at + cb >= plain.size()) break;
    }
    if (!stream) {
        DWORD cb = 0;
        EXPECT_TRUE(CryptMsgGetParam(hMsg, CMSG_CONTENT_PARAM, 0, nullptr, &cb));
        out.resize(cb);
        EXPECT_TRUE(CryptMsgGetParam(hMsg, CMSG_CONTENT_PARAM, 0, out.data(), &cb));
    }
    CryptMsgClose(hMsg);
    return out;
}

// Opens an envelope with the container of keyPem, feeding it in updates of `chunk` octets and
// decrypting as soon as the recipient info is in. The content, or the error of the first
// failing call; flags go to the control (its provider is then the message's to release).
struct Opened {
    Bytes content;
    DWORD dwError = 0;
};
Opened Open(const Bytes &envelope, const std::string &keyPem, size_t chunk, DWORD dwFlags = 0)
{
    Opened result;
    HCRYPTPROV hProv = 0;
    EXPECT_TRUE(CryptAcquireContextA(&hProv, keyPem.c_str(), nullptr, KV_PROV_GOST, 0));
    CMSG_STREAM_INFO stream = {CMSG_INDEFINITE_LENGTH, Collect, &result.content};
    HCRYPTMSG hMsg = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, &stream);
    bool decrypted = false;
    for (size_t at = 0; at < envelope.size() && !result.dwError; at += chunk) {
        const size_t cb = std::min(chunk, envelope.size() - at);
        if (!CryptMsgUpdate(hMsg, envelope.data() + at, static_cast<DWORD>(cb),
                            at + chunk >= envelope.size()))
            result.dwError = GetLastError();
        DWORD cbInfo = 0;
        if (decrypted || result.dwError ||
            !CryptMsgGetParam(hMsg, CMSG_CMS_RECIPIENT_INFO_PARAM, 0, nullptr, &cbInfo))
            continue;
        std::vector<BYTE> block(cbInfo);
        EXPECT_TRUE(
            CryptMsgGetParam(hMsg, CMSG_CMS_RECIPIENT_INFO_PARAM, 0, block.data(), &cbInfo));
        const auto *pInfo = reinterpret_cast<const CMSG_CMS_RECIPIENT_INFO *>(block.data());
        BOOL ok = FALSE;
        if (pInfo->dwRecipientChoice == CMSG_KEY_TRANS_RECIPIENT) {
            CMSG_CTRL_KEY_TRANS_DECRYPT_PARA para = {
                sizeof para, {hProv}, AT_KEYEXCHANGE, pInfo->pKeyTrans, 0};
            ok = CryptMsgControl(hMsg, dwFlags, CMSG_CTRL_KEY_TRANS_DECRYPT, &para);
        } else {
            CMSG_CTRL_KEY_AGREE_DECRYPT_PARA para = {
                sizeof para,
                {hProv},
                AT_KEYEXCHANGE,
                pInfo->pKeyAgree,
                0,
                0,
                pInfo->pKeyAgree->OriginatorPublicKeyInfo.PublicKey};
            ok = CryptMsgControl(hMsg, dwFlags, CMSG_CTRL_KEY_AGREE_DECRYPT, &para);
        }
        if (!ok) result.dwError = GetLastError();
        decrypted = ok;
    }
    CryptMsgClose(hMsg);
    if (!decrypted || !(dwFlags & CMSG_CRYPT_RELEASE_CONTEXT_FLAG)) CryptReleaseContext(hProv, 0);
    return result;
}

class EnvelopedMessage : public testing::Test {
  protected:
    // The CMS key-management functions of the build tree's library, registered in a file of
    // this test's own.
    static void SetUpTestSuite()
    {
        const char *dir = std::getenv("TMPDIR");
        registry_ = std::string(dir ? dir : "/tmp") + "/kvmsg-test-" + std::to_string(getpid());
        std::ofstream out(registry_);
        out << "CryptMsgDllGenContentEncryptKey 1 1.2.643.2.2.21 " << KV_TEST_LIBKVEXT
            << " OrvaMsgDllGenContentEncryptKey\n";
        for (const char *oid : {"1.2.643.2.2.19", "1.2.643.7.1.1.1.1", "1.2.643.7.1.1.1.2",
                                "1.2.643.7.1.1.6.1", "1.2.643.2.2.96"})
            for (const char *set :
                 {"ExportKeyTrans", "ImportKeyTrans", "ExportKeyAgree", "ImportKeyAgree"})
                out << "CryptMsgDll" << set << " 1 " << oid << ' ' << KV_TEST_LIBKVEXT
                    << " OrvaMsgDll" << set << '\n';
        out.close();
        setenv("KV_OIDFUNC_REGISTRY", registry_.c_str(), 1);
    }
    static void TearDownTestSuite() { std::remove(registry_.c_str()); }
    static inline std::string registry_;

    std::vector<Recipient> recipients_ = {
        LoadRecipient("gost2001_A", "1.2.643.2.2.19"),
        LoadRecipient("gost2012_256_A", "1.2.643.7.1.1.1.1"),
        LoadRecipient("gost2012_512_A", "1.2.643.7.1.1.1.2"),
    };
    const Bytes plain_ = kvtest::ReadDataFile("cms/plain.bin");
};

// Each recipient kind and curve, the envelope streamed or not, and opened in pieces of one
// octet, of 100 and whole: the content comes back, and no provider object outlives a message.
TEST_F(EnvelopedMessage, OpensWhatItEncodes)
{
    for (Recipient &r : recipients_) {
        for (bool agree : {false, true}) {
            for (bool stream : {false, true}) {
                SCOPED_TRACE(r.name + (agree ? " agree" : " transport") +
                             (stream ? " streamed" : ""));
                const DWORD live = KvCspLiveObjectCount();
                const Bytes envelope = Envelope(r, agree, plain_, stream ? 100 : 4096, stream);
                ASSERT_FALSE(envelope.empty()) << std::hex << GetLastError();
                EXPECT_EQ(stream ? 0x80 : 0x82, envelope.at(1));
                for (size_t chunk : {size_t{1}, size_t{100}, envelope.size()}) {
                    const Opened opened = Open(envelope, r.keyPem, chunk);
                    EXPECT_EQ(0u, opened.dwError);
                    EXPECT_EQ(plain_, opened.content);
                }
                EXPECT_EQ(live, KvCspLiveObjectCount());
            }
        }
    }
}

// Failures on the way, each with its code and nothing left alive.
TEST_F(EnvelopedMessage, FailuresReleaseEverything)
{
    Recipient &r = recipients_.at(1);
    Recipient &other = recipients_.at(2);
    const Bytes envelope = Envelope(r, false, plain_, 4096, false);
    const Bytes agreed = Envelope(r, true, plain_, 4096, false);
    Recipient offCurve = r;
    offCurve.publicKey = other.publicKey;
    struct Row {
        const char *name;
        std::function<DWORD()> run;
        DWORD error;
    } rows[] = {
        {"recipient key not on the curve",
         [&] {
             return Envelope(offCurve, false, plain_, 4096, false).empty() ? GetLastError() : 0;
         },
         NTE_BAD_DATA},
        {"agreement with a key not on the curve",
         [&] { return Envelope(offCurve, true, plain_, 4096, false).empty() ? GetLastError() : 0; },
         NTE_BAD_DATA},
        {"another recipient's container", [&] { return Open(envelope, other.keyPem, 64).dwError; },
         NTE_BAD_DATA},
        {"another recipient's container, agreement",
         [&] { return Open(agreed, other.keyPem, 64).dwError; }, NTE_BAD_DATA},
        {"cut short after the key is in",
         [&] { return Open(Bytes(envelope.begin(), envelope.end() - 10), r.keyPem, 512).dwError; },
         CRYPT_E_ASN1_EOD},
        {"provider handed to the message",
         [&] { return Open(envelope, r.keyPem, 512, CMSG_CRYPT_RELEASE_CONTEXT_FLAG).dwError; }, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const DWORD live = KvCspLiveObjectCount();
        EXPECT_EQ(row.error, row.run());
        EXPECT_EQ(live, KvCspLiveObjectCount());
    }
}

} // namespace

// All 38 entry points from several threads at once, on inputs the threads share: every call
// gives what it gives when it runs alone. A result is the call's DER, a flat result encoded
// again, or content decrypted with the key a call made; keys drawn at random are compared
// through what they decrypt.
#include "kvext/kvext.h"

#include "CmsTestSupport.h"
#include "common/EntryPoints.h"

#include <cstring>
#include <functional>
#include <thread>

using kvtest::Bytes;
using kvtest::BytesOf;
using kvtest::CodecEntryPoints;

namespace {

constexpr DWORD kType = kvtest::kEncodingType;
constexpr LPCSTR kStruct = kvtest::kStructType;

Bytes Failed()
{
    const DWORD error = GetLastError();
    return {0xFA, 0x11, BYTE(error >> 24), BYTE(error >> 16), BYTE(error >> 8), BYTE(error)};
}

void *WINAPI Alloc(size_t cb)
{
    return std::malloc(cb ? cb : 1);
}
void WINAPI Free(void *pv)
{
    std::free(pv);
}

// The DER of a flat result, encoded in allocation mode.
Bytes Reencode(const CodecEntryPoints &codec, const void *pvInfo)
{
    BYTE *pb = nullptr;
    DWORD cb = 0;
    if (!codec.encodeEx(kType, kStruct, pvInfo, CRYPT_ENCODE_ALLOC_FLAG, nullptr, &pb, &cb))
        return Failed();
    Bytes der(pb, pb + cb);
    std::free(pb);
    return der;
}

#define KV_CODEC(S)                                                                                \
    {                                                                                              \
        OrvaDll##S##EncodeEx, OrvaDll##S##Encode, OrvaDll##S##DecodeEx, OrvaDll##S##Decode         \
    }

// A structure codec, its DER input and the flat result decoded from it beforehand.
struct CodecInput {
    CodecEntryPoints codec;
    Bytes der;
    kvtest::FlatResult flat;
};

std::vector<CodecInput> LoadCodecInputs()
{
    const struct {
        CodecEntryPoints codec;
        const char *file; // null: a store holding one certificate
    } table[] = {
        {KV_CODEC(PrivateKeyUsagePeriod), "codecs/pkup_ext.der"},
        {KV_CODEC(GostPrivateCertificateStore), nullptr},
        {KV_CODEC(SigningCertificate), "ess/sc-sha1-chain.der"},
        {KV_CODEC(SigningCertificateV2), "ess/scv2-sha256-chain.der"},
        {KV_CODEC(OtherSigningCertificate), "ess/other-mixed.der"},
        {KV_CODEC(CrlDistributionPoints), "crldp/all-forms.der"},
        {KV_CODEC(IssuerSignTool), "codecs/issuer_sign_tool.der"},
        {{nullptr, nullptr, OrvaDllPrivateKeyDeriveCounterDecodeEx,
          OrvaDllPrivateKeyDeriveCounterDecode},
         "codecs/derive_counter_128.der"},
    };
    std::vector<CodecInput> inputs(std::size(table));
    for (size_t i = 0; i < std::size(table); ++i) {
        CodecInput &input = inputs[i];
        input.codec = table[i].codec;
        input.der = table[i].file ? kvtest::ReadDataFile(table[i].file)
                                  : kvtest::Der(0x31, kvtest::ReadDataFile("codecs/pkup_cert.der"));
        void *pv = nullptr;
        DWORD cb = 0;
        EXPECT_TRUE(input.codec.decodeEx(kType, kStruct, input.der.data(),
                                         static_cast<DWORD>(input.der.size()),
                                         CRYPT_DECODE_ALLOC_FLAG, nullptr, &pv, &cb));
        input.flat.reset(pv);
    }
    return inputs;
}

// A decoded flat result as comparable bytes: encoded again, or the counter itself.
Bytes Digest(const CodecInput &input, const void *pvInfo)
{
    if (!input.codec.encodeEx) {
        const auto *p = static_cast<const BYTE *>(pvInfo);
        return Bytes(p, p + sizeof(DWORD));
    }
    return Reencode(input.codec, pvInfo);
}

using Call = std::function<Bytes()>;

// The four calls of a codec (two for a decode-only one).
void AddCodecCalls(const CodecInput &in, std::vector<Call> *calls)
{
    const DWORD cbDer = static_cast<DWORD>(in.der.size());
    calls->push_back([&in, cbDer] {
        void *pv = nullptr;
        DWORD cb = 0;
        if (!in.codec.decodeEx(kType, kStruct, in.der.data(), cbDer, CRYPT_DECODE_ALLOC_FLAG,
                               nullptr, &pv, &cb))
            return Failed();
        const kvtest::FlatResult flat(pv);
        return Digest(in, pv);
    });
    calls->push_back([&in, cbDer] {
        DWORD cb = 0;
        if (!in.codec.decode(kType, kStruct, in.der.data(), cbDer, 0, nullptr, &cb))
            return Failed();
        std::vector<uint64_t> block((cb + 7) / 8);
        if (!in.codec.decode(kType, kStruct, in.der.data(), cbDer, 0, block.data(), &cb))
            return Failed();
        return Digest(in, block.data());
    });
    if (!in.codec.encodeEx) return;
    calls->push_back([&in] { return Reencode(in.codec, in.flat.get()); });
    calls->push_back([&in] {
        DWORD cb = 0;
        if (!in.codec.encode(kType, kStruct, in.flat.get(), nullptr, &cb)) return Failed();
        Bytes der(cb);
        if (!in.codec.encode(kType, kStruct, in.flat.get(), der.data(), &cb)) return Failed();
        return der;
    });
}

// What the key-management calls share: openssl's envelope for a GOST R 34.10-2012 recipient
// and a key agreement for it made beforehand.
struct KeyInputs {
    kvtest::CmsVector v = kvtest::LoadCmsVectors().at(1);
    kvtest::GostKeyVector key = kvtest::LoadGostKeyVectors().at(0);
    Bytes plain = kvtest::PlainText();
    Bytes agreeEncryptedKey, agreeParams, agreeUkm, agreeOriginatorKey, agreeContentParams;
    Bytes agreeCiphertext;
    std::string agreeOid; // the key-agreement OID the export wrote
};

// A content key of a provider of its own; its blocks go back when it does.
struct ContentKey {
    CMSG_CONTENT_ENCRYPT_INFO info{};
    BOOL ok;
    ContentKey()
    {
        info.cbSize = sizeof info;
        info.ContentEncryptionAlgorithm.pszObjId = const_cast<LPSTR>(kvtest::kGost28147Oid);
        info.pfnAlloc = Alloc;
        info.pfnFree = Free;
        ok = OrvaMsgDllGenContentEncryptKey(&info, 0, nullptr);
    }
    ~ContentKey()
    {
        if (info.hContentEncryptKey) CryptDestroyKey(info.hContentEncryptKey);
        if (info.dwFlags & CMSG_CONTENT_ENCRYPT_FREE_PARA_FLAG)
            Free(info.ContentEncryptionAlgorithm.Parameters.pbData);
        if (info.dwFlags & CMSG_CONTENT_ENCRYPT_RELEASE_CONTEXT_FLAG)
            CryptReleaseContext(info.hCryptProv, 0);
    }
};

// The key agreement's export with a new content key, its output kept in `in` as the recipient
// would receive it, and the plaintext encrypted under that content key.
BOOL ExportKeyAgree(KeyInputs *in, ContentKey *content)
{
    std::string keyEncryptionOid = "1.2.643.7.1.1.1.1"; // rewritten in place by the export
    CRYPT_ALGORITHM_IDENTIFIER ephemeral = {in->v.algorithmOid.data(),
                                            kvtest::BlobOf(in->v.params)};
    CMSG_RECIPIENT_ENCRYPTED_KEY_ENCODE_INFO recipient{};
    recipient.cbSize = sizeof recipient;
    recipient.RecipientPublicKey = {static_cast<DWORD>(in->v.publicKey.size()),
                                    in->v.publicKey.data(), 0};
    PCMSG_RECIPIENT_ENCRYPTED_KEY_ENCODE_INFO rgpRecipients[] = {&recipient};
    CMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO encode{};
    encode.cbSize = sizeof encode;
    encode.KeyEncryptionAlgorithm.pszObjId = keyEncryptionOid.data();
    encode.dwKeyChoice = CMSG_KEY_AGREE_EPHEMERAL_KEY_CHOICE;
    encode.pEphemeralAlgorithm = &ephemeral;
    encode.cRecipientEncryptedKeys = 1;
    encode.rgpRecipientEncryptedKeys = rgpRecipients;
    CMSG_KEY_AGREE_KEY_ENCRYPT_INFO keyEncrypt{};
    PCMSG_KEY_AGREE_KEY_ENCRYPT_INFO rgpKeyEncrypt[] = {&keyEncrypt};
    CMSG_KEY_AGREE_ENCRYPT_INFO out{};
    out.cbSize = sizeof out;
    out.cKeyAgreeKeyEncryptInfo = 1;
    out.rgpKeyAgreeKeyEncryptInfo = rgpKeyEncrypt;
    if (!content->ok || !OrvaMsgDllExportKeyAgree(&content->info, &encode, &out, 0, nullptr))
        return FALSE;
    const CERT_PUBLIC_KEY_INFO &originator = out.OriginatorPublicKeyInfo;
    in->agreeOid = keyEncryptionOid.c_str();
    in->agreeEncryptedKey = BytesOf(keyEncrypt.EncryptedKey);
    in->agreeParams = BytesOf(out.KeyEncryptionAlgorithm.Parameters);
    in->agreeUkm = BytesOf(out.UserKeyingMaterial);
    in->agreeOriginatorKey = {originator.PublicKey.pbData,
                              originator.PublicKey.pbData + originator.PublicKey.cbData};
    in->agreeContentParams = BytesOf(content->info.ContentEncryptionAlgorithm.Parameters);
    Free(keyEncrypt.EncryptedKey.pbData);
    if (out.dwFlags & CMSG_KEY_AGREE_ENCRYPT_FREE_PARA_FLAG)
        Free(out.KeyEncryptionAlgorithm.Parameters.pbData);
    if (out.dwFlags & CMSG_KEY_AGREE_ENCRYPT_FREE_MATERIAL_FLAG)
        Free(out.UserKeyingMaterial.pbData);
    if (out.dwFlags & CMSG_KEY_AGREE_ENCRYPT_FREE_PUBKEY_PARA_FLAG)
        Free(originator.Algorithm.Parameters.pbData);
    if (out.dwFlags & CMSG_KEY_AGREE_ENCRYPT_FREE_PUBKEY_BITS_FLAG)
        Free(originator.PublicKey.pbData);
    return TRUE;
}

// The content the recipient's import unwraps the key for, decrypted with it.
Bytes ImportKeyAgree(const KeyInputs &in, const Bytes &ciphertext)
{
    const auto hProv = kvtest::AcquireProvider(&in.v.keyPemPath);
    CMSG_RECIPIENT_ENCRYPTED_KEY_INFO keyInfo{};
    keyInfo.EncryptedKey = kvtest::BlobOf(in.agreeEncryptedKey);
    PCMSG_RECIPIENT_ENCRYPTED_KEY_INFO rgpKeys[] = {&keyInfo};
    CMSG_KEY_AGREE_RECIPIENT_INFO keyAgree{};
    keyAgree.dwVersion = 3;
    keyAgree.dwOriginatorChoice = CMSG_KEY_AGREE_ORIGINATOR_PUBLIC_KEY;
    std::string originatorOid = in.v.algorithmOid, keyEncryptionOid = in.agreeOid;
    keyAgree.OriginatorPublicKeyInfo.Algorithm = {originatorOid.data(),
                                                  kvtest::BlobOf(in.v.params)};
    keyAgree.OriginatorPublicKeyInfo.PublicKey = {static_cast<DWORD>(in.agreeOriginatorKey.size()),
                                                  const_cast<BYTE *>(in.agreeOriginatorKey.data()),
                                                  0};
    keyAgree.UserKeyingMaterial = kvtest::BlobOf(in.agreeUkm);
    keyAgree.KeyEncryptionAlgorithm = {keyEncryptionOid.data(), kvtest::BlobOf(in.agreeParams)};
    keyAgree.cRecipientEncryptedKeys = 1;
    keyAgree.rgpRecipientEncryptedKeys = rgpKeys;
    CMSG_CTRL_KEY_AGREE_DECRYPT_PARA para{};
    para.cbSize = sizeof para;
    para.hCryptProv = *hProv;
    para.dwKeySpec = AT_KEYEXCHANGE;
    para.pKeyAgree = &keyAgree;
    CRYPT_ALGORITHM_IDENTIFIER content = {const_cast<LPSTR>(kvtest::kGost28147Oid),
                                          kvtest::BlobOf(in.agreeContentParams)};
    auto hKey = kvtest::NewScopedKey();
    if (!OrvaMsgDllImportKeyAgree(&content, &para, 0, nullptr, hKey.get())) return Failed();
    return kvtest::Decrypt(*hKey, ciphertext);
}

// The key transport's import of openssl's envelope (or of `encryptedKey`), the content
// decrypted with the key it gives.
Bytes ImportKeyTrans(const KeyInputs &in, const Bytes &encryptedKey, const Bytes &contentParams,
                     const Bytes &ciphertext)
{
    const auto hProv = kvtest::AcquireProvider(&in.v.keyPemPath);
    CMSG_KEY_TRANS_RECIPIENT_INFO keyTrans{};
    keyTrans.EncryptedKey = kvtest::BlobOf(encryptedKey);
    CMSG_CTRL_KEY_TRANS_DECRYPT_PARA para{};
    para.cbSize = sizeof para;
    para.hCryptProv = *hProv;
    para.dwKeySpec = AT_KEYEXCHANGE;
    para.pKeyTrans = &keyTrans;
    CRYPT_ALGORITHM_IDENTIFIER content = {const_cast<LPSTR>(kvtest::kGost28147Oid),
                                          kvtest::BlobOf(contentParams)};
    auto hKey = kvtest::NewScopedKey();
    if (!OrvaMsgDllImportKeyTrans(&content, &para, 0, nullptr, hKey.get())) return Failed();
    return kvtest::Decrypt(*hKey, ciphertext);
}

void AddKeyCalls(KeyInputs &in, std::vector<Call> *calls)
{
    calls->push_back([&in] { // OrvaConvertPublicKeyInfo
        CERT_PUBLIC_KEY_INFO info = kvtest::PublicKeyInfoOf(in.key);
        BYTE *pb = nullptr;
        DWORD cb = 0;
        if (!OrvaConvertPublicKeyInfo(kType, &info, 0, 0, &pb, &cb)) return Failed();
        Bytes blob(pb, pb + cb);
        std::free(pb);
        return blob;
    });
    calls->push_back([&in] { // OrvaEncodePublicKeyAndParameters
        Bytes blob =
            kvtest::GostPublicKeyBlob(PUBLICKEYBLOB, 0, kvtest::SignAlgIdOf(in.key.algorithmOid),
                                      in.key.params, in.key.rawKey);
        BYTE *pbKey = nullptr, *pbParams = nullptr;
        DWORD cbKey = 0, cbParams = 0;
        if (!OrvaEncodePublicKeyAndParameters(kType, in.key.algorithmOid.data(), blob.data(),
                                              static_cast<DWORD>(blob.size()), 0, nullptr, &pbKey,
                                              &cbKey, &pbParams, &cbParams))
            return Failed();
        Bytes both =
            kvtest::Cat({Bytes(pbParams, pbParams + cbParams), Bytes(pbKey, pbKey + cbKey)});
        std::free(pbKey);
        std::free(pbParams);
        return both;
    });
    calls->push_back([&in] { // OrvaDllExportPublicKeyInfoEx
        const auto hProv = kvtest::AcquireProvider(&in.key.keyPemPath);
        DWORD cb = 0;
        if (!OrvaDllExportPublicKeyInfoEx(*hProv, AT_KEYEXCHANGE, kType, nullptr, 0, nullptr,
                                          nullptr, &cb))
            return Failed();
        std::vector<uint64_t> block((cb + 7) / 8);
        auto *info = reinterpret_cast<CERT_PUBLIC_KEY_INFO *>(block.data());
        if (!OrvaDllExportPublicKeyInfoEx(*hProv, AT_KEYEXCHANGE, kType, nullptr, 0, nullptr, info,
                                          &cb))
            return Failed();
        return kvtest::Cat({Bytes(info->Algorithm.pszObjId,
                                  info->Algorithm.pszObjId + std::strlen(info->Algorithm.pszObjId)),
                            BytesOf(info->Algorithm.Parameters),
                            BytesOf({info->PublicKey.cbData, info->PublicKey.pbData})});
    });
    calls->push_back([&in] { // OrvaMsgDllGenContentEncryptKey: the key decrypts what it encrypted
        ContentKey content;
        if (!content.ok) return Failed();
        return kvtest::Decrypt(content.info.hContentEncryptKey,
                               kvtest::Encrypt(content.info.hContentEncryptKey, in.plain));
    });
    calls->push_back([&in] { // OrvaMsgDllImportKeyTrans on openssl's envelope
        return ImportKeyTrans(in, in.v.encryptedKey, in.v.contentParams, in.v.ciphertext);
    });
    calls->push_back([&in] { // OrvaMsgDllExportKeyTrans, opened by the recipient
        ContentKey content;
        CMSG_KEY_TRANS_RECIPIENT_ENCODE_INFO encode{};
        encode.cbSize = sizeof encode;
        encode.KeyEncryptionAlgorithm = {in.v.algorithmOid.data(), kvtest::BlobOf(in.v.params)};
        encode.RecipientPublicKey = {static_cast<DWORD>(in.v.publicKey.size()),
                                     in.v.publicKey.data(), 0};
        CMSG_KEY_TRANS_ENCRYPT_INFO out{};
        out.cbSize = sizeof out;
        if (!content.ok || !OrvaMsgDllExportKeyTrans(&content.info, &encode, &out, 0, nullptr))
            return Failed();
        const Bytes encryptedKey = BytesOf(out.EncryptedKey);
        Free(out.EncryptedKey.pbData);
        return ImportKeyTrans(in, encryptedKey,
                              BytesOf(content.info.ContentEncryptionAlgorithm.Parameters),
                              kvtest::Encrypt(content.info.hContentEncryptKey, in.plain));
    });
    calls->push_back([&in] { // OrvaMsgDllImportKeyAgree on the agreement made beforehand
        return ImportKeyAgree(in, in.agreeCiphertext);
    });
    calls->push_back([&in] { // OrvaMsgDllExportKeyAgree, opened by the recipient
        KeyInputs mine;
        ContentKey content;
        if (!ExportKeyAgree(&mine, &content)) return Failed();
        return ImportKeyAgree(mine, kvtest::Encrypt(content.info.hContentEncryptKey, in.plain));
    });
}

TEST(Concurrency, EveryEntryPointFromManyThreadsGivesItsSingleThreadedResult)
{
    constexpr int kThreads = 4, kRounds = 3;
    const std::vector<CodecInput> codecs = LoadCodecInputs();
    KeyInputs keys;
    ContentKey agreed;
    ASSERT_TRUE(ExportKeyAgree(&keys, &agreed));
    keys.agreeCiphertext = kvtest::Encrypt(agreed.info.hContentEncryptKey, keys.plain);

    std::vector<Call> calls;
    for (const CodecInput &input : codecs)
        AddCodecCalls(input, &calls);
    AddKeyCalls(keys, &calls);
    ASSERT_EQ(38u, calls.size());

    std::vector<Bytes> expected;
    for (const Call &call : calls)
        expected.push_back(call());
    for (size_t i = 0; i < calls.size(); ++i)
        ASSERT_FALSE(expected[i].size() == 6 && expected[i][0] == 0xFA && expected[i][1] == 0x11)
            << "call " << i << " fails alone";

    // Each thread runs the table from its own starting point, so different calls overlap.
    std::vector<std::vector<size_t>> mismatches(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round)
                for (size_t k = 0; k < calls.size(); ++k) {
                    const size_t i = (k + t * calls.size() / kThreads) % calls.size();
                    if (calls[i]() != expected[i]) mismatches[t].push_back(i);
                }
        });
    for (std::thread &thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_TRUE(mismatches[t].empty()) << "thread " << t << ": call " << mismatches[t].front();
}

} // namespace

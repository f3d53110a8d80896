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
    Bytes plain = kvtest::ReadDataFile("cms/plain.bin");
    kvtest::KeyAgreeRecipientInfo agreed;
    Bytes agreedContentParams, agreedCiphertext;
};

// A content key of a provider of its own; its blocks go back when it does.
struct ContentKey {
    CMSG_CONTENT_ENCRYPT_INFO info{};
    BOOL ok;
    ContentKey()
    {
        info.cbSize = sizeof info;
        info.ContentEncryptionAlgorithm.pszObjId = const_cast<LPSTR>(kvtest::kGost28147Oid);
        info.pfnAlloc = kvtest::CallerMemory::Alloc;
        info.pfnFree = kvtest::CallerMemory::Free;
        ok = OrvaMsgDllGenContentEncryptKey(&info, 0, nullptr);
    }
    ~ContentKey()
    {
        if (info.hContentEncryptKey) CryptDestroyKey(info.hContentEncryptKey);
        if (info.dwFlags & CMSG_CONTENT_ENCRYPT_FREE_PARA_FLAG)
            kvtest::CallerMemory::Free(info.ContentEncryptionAlgorithm.Parameters.pbData);
        if (info.dwFlags & CMSG_CONTENT_ENCRYPT_RELEASE_CONTEXT_FLAG)
            CryptReleaseContext(info.hCryptProv, 0);
    }
};

// The key agreement's export with a new content key, its output kept in `in` as the recipient
// would receive it.
BOOL ExportKeyAgree(KeyInputs *in, ContentKey *content)
{
    kvtest::KeyAgreeSender sender("1.2.643.7.1.1.1.1", in->v.algorithmOid, in->v.params,
                                  in->v.publicKey);
    if (!content->ok || !sender.Export(&content->info).ok) return FALSE;
    in->agreed = kvtest::ReceivedFrom(sender);
    in->agreedContentParams = BytesOf(content->info.ContentEncryptionAlgorithm.Parameters);
    sender.ReleaseByFlags();
    return TRUE;
}

// The content the recipient's import unwraps the key for, decrypted with it.
Bytes ImportKeyAgree(const KeyInputs &in, const Bytes &ciphertext)
{
    const auto hProv = kvtest::AcquireProvider(&in.v.keyPemPath);
    auto hKey = kvtest::NewScopedKey();
    if (!kvtest::ImportKeyAgree(*hProv, AT_KEYEXCHANGE, in.agreed, in.agreedContentParams,
                                hKey.get())
             .ok)
        return Failed();
    return kvtest::Decrypt(*hKey, ciphertext);
}

// The key transport's import of openssl's envelope (or of `encryptedKey`), the content
// decrypted with the key it gives.
Bytes ImportKeyTrans(const KeyInputs &in, const Bytes &encryptedKey, const Bytes &contentParams,
                     const Bytes &ciphertext)
{
    const auto hProv = kvtest::AcquireProvider(&in.v.keyPemPath);
    auto hKey = kvtest::NewScopedKey();
    if (!kvtest::ImportKeyTrans(*hProv, encryptedKey, contentParams, hKey.get()).ok)
        return Failed();
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
        kvtest::KeyTransSender sender(in.v.algorithmOid, in.v.params, in.v.publicKey);
        if (!content.ok || !sender.Export(&content.info).ok) return Failed();
        const Bytes encryptedKey = BytesOf(sender.encryptInfo.EncryptedKey);
        kvtest::CallerMemory::Free(sender.encryptInfo.EncryptedKey.pbData);
        return ImportKeyTrans(in, encryptedKey,
                              BytesOf(content.info.ContentEncryptionAlgorithm.Parameters),
                              kvtest::Encrypt(content.info.hContentEncryptKey, in.plain));
    });
    calls->push_back([&in] { // OrvaMsgDllImportKeyAgree on the agreement made beforehand
        return ImportKeyAgree(in, in.agreedCiphertext);
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
    keys.agreedCiphertext = kvtest::Encrypt(agreed.info.hContentEncryptKey, keys.plain);

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

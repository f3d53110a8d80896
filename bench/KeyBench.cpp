// Key management as a host calls it: key transport and key agreement, export and import, for
// the OpenSSL-made recipients of the CMS test vectors. Most of each call is the provider's
// work (the VKO agreement and the key wrap); bench/run.sh measures how much of it is the
// library's own with callgrind.
#include "kvext/keys.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

constexpr DWORD kProvGost = 75;                    // the platform provider's type
constexpr char kGost28147Oid[] = "1.2.643.2.2.21"; // content encryption

Bytes ReadData(const std::string &name)
{
    const std::string path = std::string(KV_TEST_DATA) + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

CRYPT_DATA_BLOB BlobOf(Bytes &bytes)
{
    return {static_cast<DWORD>(bytes.size()), bytes.data()};
}

void *WINAPI Alloc(size_t cb)
{
    return std::malloc(cb ? cb : 1);
}

void WINAPI Free(void *pv)
{
    std::free(pv);
}

HCRYPTPROV Acquire(const std::string *keyPemPath)
{
    HCRYPTPROV hProv = 0;
    const BOOL ok =
        keyPemPath ? CryptAcquireContextA(&hProv, keyPemPath->c_str(), nullptr, kProvGost, 0)
                   : CryptAcquireContextA(&hProv, nullptr, nullptr, kProvGost, CRYPT_VERIFYCONTEXT);
    if (!ok) throw std::runtime_error("the provider refuses a container");
    return hProv;
}

// One recipient of tests/data/cms and openssl's envelope for it.
struct Recipient {
    std::string name, algorithmOid, keyPemPath;
    Bytes params, publicKey, encryptedKey, contentParams;

    Recipient(const std::string &vectorName, const std::string &oid)
        : name(vectorName), algorithmOid(oid),
          keyPemPath(std::string(KV_TEST_DATA) + "/cms/" + vectorName + ".key.pem"),
          params(ReadData("cms/" + vectorName + ".params.der")),
          publicKey(ReadData("cms/" + vectorName + ".pubkey.der")),
          encryptedKey(ReadData("cms/" + vectorName + ".encryptedkey.der")),
          contentParams(ReadData("cms/" + vectorName + ".content-params.der"))
    {
    }
};

const Recipient &RecipientNamed(const std::string &name)
{
    static const std::vector<Recipient> recipients = {
        {"gost2001_A", "1.2.643.2.2.19"},
        {"gost2012_256_A", "1.2.643.7.1.1.1.1"},
        {"gost2012_512_A", "1.2.643.7.1.1.1.2"},
    };
    for (const Recipient &r : recipients)
        if (r.name == name) return r;
    throw std::runtime_error("no recipient " + name);
}

// The sender's content key, made once in a provider of its own.
struct Content {
    HCRYPTPROV hProv;
    CMSG_CONTENT_ENCRYPT_INFO info{};

    Content() : hProv(Acquire(nullptr))
    {
        info.cbSize = sizeof info;
        info.hCryptProv = hProv;
        info.ContentEncryptionAlgorithm.pszObjId = const_cast<LPSTR>(kGost28147Oid);
        info.pfnAlloc = Alloc;
        info.pfnFree = Free;
        if (!OrvaMsgDllGenContentEncryptKey(&info, 0, nullptr))
            throw std::runtime_error("no content key");
    }
};

Content &SenderContent()
{
    static Content content;
    return content;
}

void ExportKeyTrans(benchmark::State &state, const char *recipientName)
{
    Recipient r = RecipientNamed(recipientName);
    Content &content = SenderContent();
    CMSG_KEY_TRANS_RECIPIENT_ENCODE_INFO encodeInfo{};
    encodeInfo.cbSize = sizeof encodeInfo;
    encodeInfo.KeyEncryptionAlgorithm = {r.algorithmOid.data(), BlobOf(r.params)};
    encodeInfo.RecipientPublicKey = {static_cast<DWORD>(r.publicKey.size()), r.publicKey.data(), 0};
    for (auto _ : state) {
        CMSG_KEY_TRANS_ENCRYPT_INFO encryptInfo{};
        encryptInfo.cbSize = sizeof encryptInfo;
        if (!OrvaMsgDllExportKeyTrans(&content.info, &encodeInfo, &encryptInfo, 0, nullptr))
            state.SkipWithError("export failed");
        Free(encryptInfo.EncryptedKey.pbData);
    }
}

void ImportKeyTrans(benchmark::State &state, const char *recipientName)
{
    Recipient r = RecipientNamed(recipientName);
    const HCRYPTPROV hProv = Acquire(&r.keyPemPath);
    CMSG_KEY_TRANS_RECIPIENT_INFO keyTrans{};
    keyTrans.EncryptedKey = BlobOf(r.encryptedKey);
    CMSG_CTRL_KEY_TRANS_DECRYPT_PARA para{};
    para.cbSize = sizeof para;
    para.hCryptProv = hProv;
    para.dwKeySpec = AT_KEYEXCHANGE;
    para.pKeyTrans = &keyTrans;
    CRYPT_ALGORITHM_IDENTIFIER contentAlgorithm = {const_cast<LPSTR>(kGost28147Oid),
                                                   BlobOf(r.contentParams)};
    for (auto _ : state) {
        HCRYPTKEY hKey = 0;
        if (!OrvaMsgDllImportKeyTrans(&contentAlgorithm, &para, 0, nullptr, &hKey))
            state.SkipWithError("import failed");
        CryptDestroyKey(hKey);
    }
    CryptReleaseContext(hProv, 0);
}

// What the sender's CryptoAPI passes for one key-agreement recipient.
struct AgreeSender {
    std::array<char, 32> keyEncryptionOid{}; // rewritten in place by the export
    CRYPT_ALGORITHM_IDENTIFIER ephemeral{};
    CMSG_RECIPIENT_ENCRYPTED_KEY_ENCODE_INFO recipientKey{};
    PCMSG_RECIPIENT_ENCRYPTED_KEY_ENCODE_INFO pRecipientKey = &recipientKey;
    CMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO encodeInfo{};
    CMSG_KEY_AGREE_KEY_ENCRYPT_INFO keyEncryptInfo{};
    PCMSG_KEY_AGREE_KEY_ENCRYPT_INFO pKeyEncryptInfo = &keyEncryptInfo;
    CMSG_KEY_AGREE_ENCRYPT_INFO encryptInfo{};

    explicit AgreeSender(Recipient &r)
    {
        std::strncpy(keyEncryptionOid.data(), r.algorithmOid.c_str(), keyEncryptionOid.size() - 1);
        ephemeral = {r.algorithmOid.data(), BlobOf(r.params)};
        recipientKey.cbSize = sizeof recipientKey;
        recipientKey.RecipientPublicKey = {static_cast<DWORD>(r.publicKey.size()),
                                           r.publicKey.data(), 0};
        encodeInfo.cbSize = sizeof encodeInfo;
        encodeInfo.dwKeyChoice = CMSG_KEY_AGREE_EPHEMERAL_KEY_CHOICE;
        encodeInfo.pEphemeralAlgorithm = &ephemeral;
        encodeInfo.cRecipientEncryptedKeys = 1;
        encodeInfo.rgpRecipientEncryptedKeys = &pRecipientKey;
    }
    BOOL Export(std::string_view originalOid)
    {
        std::strncpy(keyEncryptionOid.data(), originalOid.data(), keyEncryptionOid.size() - 1);
        encodeInfo.KeyEncryptionAlgorithm.pszObjId = keyEncryptionOid.data();
        encryptInfo = {};
        encryptInfo.cbSize = sizeof encryptInfo;
        encryptInfo.cKeyAgreeKeyEncryptInfo = 1;
        encryptInfo.rgpKeyAgreeKeyEncryptInfo = &pKeyEncryptInfo;
        keyEncryptInfo = {};
        return OrvaMsgDllExportKeyAgree(&SenderContent().info, &encodeInfo, &encryptInfo, 0,
                                        nullptr);
    }
    // Releases what the call handed to the caller, as CryptoAPI would.
    void Release() const
    {
        const DWORD flags = encryptInfo.dwFlags;
        const CERT_PUBLIC_KEY_INFO &originator = encryptInfo.OriginatorPublicKeyInfo;
        if (flags & CMSG_KEY_AGREE_ENCRYPT_FREE_PARA_FLAG)
            Free(encryptInfo.KeyEncryptionAlgorithm.Parameters.pbData);
        if (flags & CMSG_KEY_AGREE_ENCRYPT_FREE_MATERIAL_FLAG)
            Free(encryptInfo.UserKeyingMaterial.pbData);
        if (flags & CMSG_KEY_AGREE_ENCRYPT_FREE_PUBKEY_PARA_FLAG)
            Free(originator.Algorithm.Parameters.pbData);
        if (flags & CMSG_KEY_AGREE_ENCRYPT_FREE_PUBKEY_BITS_FLAG) Free(originator.PublicKey.pbData);
        Free(keyEncryptInfo.EncryptedKey.pbData);
    }
};

void ExportKeyAgree(benchmark::State &state, const char *recipientName)
{
    Recipient r = RecipientNamed(recipientName);
    AgreeSender sender(r);
    for (auto _ : state) {
        if (!sender.Export(r.algorithmOid)) state.SkipWithError("export failed");
        sender.Release();
    }
}

void ImportKeyAgree(benchmark::State &state, const char *recipientName)
{
    Recipient r = RecipientNamed(recipientName);
    AgreeSender sender(r);
    if (!sender.Export(r.algorithmOid)) throw std::runtime_error("key agreement export failed");
    const CMSG_KEY_AGREE_ENCRYPT_INFO &out = sender.encryptInfo;
    CMSG_RECIPIENT_ENCRYPTED_KEY_INFO key{};
    key.EncryptedKey = sender.keyEncryptInfo.EncryptedKey;
    PCMSG_RECIPIENT_ENCRYPTED_KEY_INFO pKey = &key;
    CMSG_KEY_AGREE_RECIPIENT_INFO keyAgree{};
    keyAgree.dwVersion = 3;
    keyAgree.dwOriginatorChoice = CMSG_KEY_AGREE_ORIGINATOR_PUBLIC_KEY;
    keyAgree.OriginatorPublicKeyInfo = out.OriginatorPublicKeyInfo;
    keyAgree.UserKeyingMaterial = out.UserKeyingMaterial;
    keyAgree.KeyEncryptionAlgorithm = {sender.keyEncryptionOid.data(),
                                       out.KeyEncryptionAlgorithm.Parameters};
    keyAgree.cRecipientEncryptedKeys = 1;
    keyAgree.rgpRecipientEncryptedKeys = &pKey;
    const HCRYPTPROV hProv = Acquire(&r.keyPemPath);
    CMSG_CTRL_KEY_AGREE_DECRYPT_PARA para{};
    para.cbSize = sizeof para;
    para.hCryptProv = hProv;
    para.dwKeySpec = AT_KEYEXCHANGE;
    para.pKeyAgree = &keyAgree;
    CRYPT_ALGORITHM_IDENTIFIER contentAlgorithm = {
        const_cast<LPSTR>(kGost28147Oid),
        SenderContent().info.ContentEncryptionAlgorithm.Parameters};
    for (auto _ : state) {
        HCRYPTKEY hKey = 0;
        if (!OrvaMsgDllImportKeyAgree(&contentAlgorithm, &para, 0, nullptr, &hKey))
            state.SkipWithError("import failed");
        CryptDestroyKey(hKey);
    }
    CryptReleaseContext(hProv, 0);
    sender.Release();
}

#define KEY_BENCH(fn)                                                                              \
    BENCHMARK_CAPTURE(fn, gost2001_A, "gost2001_A")->Unit(benchmark::kMicrosecond);                \
    BENCHMARK_CAPTURE(fn, gost2012_256_A, "gost2012_256_A")->Unit(benchmark::kMicrosecond);        \
    BENCHMARK_CAPTURE(fn, gost2012_512_A, "gost2012_512_A")->Unit(benchmark::kMicrosecond)

KEY_BENCH(ExportKeyTrans);
KEY_BENCH(ImportKeyTrans);
KEY_BENCH(ExportKeyAgree);
KEY_BENCH(ImportKeyAgree);

} // namespace

#include "CspTestSupport.h"

#include "common/TraceFile.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace csptest {
namespace {

// Signatures of the engine module's functions (gost89.h, gost_keywrap.h).
using GostInitFn = void (*)(void *ctx, const void *sbox);
using GostKeyFn = void (*)(void *ctx, const unsigned char *key);
using GostBlocksFn = void (*)(void *ctx, const unsigned char *in, unsigned char *out, int blocks);
using GostCryptFn = void (*)(void *ctx, const unsigned char *in, unsigned char *out);
using GostMacIvFn = int (*)(void *ctx, int bits, const unsigned char *iv, const unsigned char *data,
                            unsigned int length, unsigned char *mac);
using KeyWrapFn = int (*)(void *ctx, const unsigned char *kek, const unsigned char *ukm,
                          const unsigned char *cek, unsigned char *wrapped);
using KeyUnwrapFn = int (*)(void *ctx, const unsigned char *kek, const unsigned char *wrapped,
                            unsigned char *cek);

// The engine module as the provider loaded it (OpenSSL's engines directory).
void *EngineModule()
{
    static void *const module = [] {
        ProvHandle prov; // makes the provider load the engine
        AcquireVerify(&prov);
        std::string directory = OpenSSL_version(OPENSSL_ENGINES_DIR);
        const size_t open = directory.find('"'), close = directory.rfind('"');
        if (open != std::string::npos && close > open)
            directory = directory.substr(open + 1, close - open - 1);
        if (const char *env = std::getenv("OPENSSL_ENGINES")) directory = env;
        return dlopen((directory + "/gost.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    }();
    return module;
}

template <class Fn> Fn EngineSymbol(const char *name)
{
    void *symbol = EngineModule() ? dlsym(EngineModule(), name) : nullptr;
    EXPECT_NE(nullptr, symbol) << name;
    return reinterpret_cast<Fn>(symbol);
}

const char *SboxSymbol(const std::string &oid)
{
    if (oid == szOID_Gost28147_89_Kelvarine_A_ParamSet) return "Gost28147_CryptoProParamSetA";
    if (oid == szOID_Gost28147_89_Kelvarine_B_ParamSet) return "Gost28147_CryptoProParamSetB";
    if (oid == szOID_Gost28147_89_Kelvarine_C_ParamSet) return "Gost28147_CryptoProParamSetC";
    if (oid == szOID_Gost28147_89_Kelvarine_D_ParamSet) return "Gost28147_CryptoProParamSetD";
    if (oid == szOID_tc26_gost_28147_param_Z) return "Gost28147_TC26ParamSetZ";
    return "Gost28147_TestParamSet";
}

Bytes DerLength(size_t length)
{
    if (length < 0x80) return {static_cast<unsigned char>(length)};
    if (length < 0x100) return {0x81, static_cast<unsigned char>(length)};
    return {0x82, static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)};
}

Bytes Tlv(unsigned char tag, const Bytes &content)
{
    Bytes out{tag};
    const Bytes length = DerLength(content.size());
    out.insert(out.end(), length.begin(), length.end());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes GetParam(HCRYPTKEY hKey, DWORD param)
{
    DWORD cb = 0;
    EXPECT_TRUE(CryptGetKeyParam(hKey, param, nullptr, &cb, 0)) << std::hex << GetLastError();
    Bytes value(cb);
    EXPECT_TRUE(CryptGetKeyParam(hKey, param, value.data(), &cb, 0)) << std::hex << GetLastError();
    value.resize(cb);
    return value;
}

} // namespace

Bytes FromHex(const std::string &hex)
{
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string ToHex(std::span<const unsigned char> bytes)
{
    std::string out;
    char digits[3];
    for (unsigned char b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        out += digits;
    }
    return out;
}

ProvHandle::~ProvHandle()
{
    if (h) CryptReleaseContext(h, 0);
}

KeyHandle::~KeyHandle()
{
    if (h) CryptDestroyKey(h);
}

void AcquireVerify(ProvHandle *prov)
{
    ASSERT_TRUE(CryptAcquireContextA(&prov->h, nullptr, nullptr, KV_PROV_GOST, 0xF0100000))
        << std::hex << GetLastError();
}

std::string KeyPath(const std::string &keyName)
{
    return kvtest::DataPath("csp/" + keyName + ".pem");
}

void AcquireContainer(const std::string &keyName, ProvHandle *prov)
{
    ASSERT_TRUE(CryptAcquireContextA(&prov->h, KeyPath(keyName).c_str(), nullptr, KV_PROV_GOST, 0))
        << keyName << " " << std::hex << GetLastError();
}

Bytes ExportBlob(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD blobType)
{
    DWORD cb = 0;
    EXPECT_TRUE(CryptExportKey(hKey, hExpKey, blobType, 0, nullptr, &cb))
        << std::hex << GetLastError();
    Bytes blob(cb);
    EXPECT_TRUE(CryptExportKey(hKey, hExpKey, blobType, 0, blob.data(), &cb))
        << std::hex << GetLastError();
    EXPECT_EQ(blob.size(), cb);
    return blob;
}

std::string GetTextParam(HCRYPTKEY hKey, DWORD param)
{
    const Bytes value = GetParam(hKey, param);
    EXPECT_TRUE(!value.empty() && value.back() == 0);
    return value.empty() ? std::string() : std::string(value.begin(), value.end() - 1);
}

DWORD GetDwordParam(HCRYPTKEY hKey, DWORD param)
{
    const Bytes value = GetParam(hKey, param);
    DWORD out = 0;
    EXPECT_EQ(sizeof out, value.size());
    std::memcpy(&out, value.data(), std::min(sizeof out, value.size()));
    return out;
}

Bytes GetBytesParam(HCRYPTKEY hKey, DWORD param)
{
    return GetParam(hKey, param);
}

Bytes Encrypt(HCRYPTKEY hKey, Bytes data)
{
    DWORD cb = static_cast<DWORD>(data.size());
    EXPECT_TRUE(CryptEncrypt(hKey, 0, TRUE, 0, data.data(), &cb, cb)) << std::hex << GetLastError();
    return data;
}

Bytes BlobParameters(const char *paramSetOid)
{
    ASN1_OBJECT *oid = OBJ_txt2obj(paramSetOid, 1);
    Bytes oidDer(static_cast<size_t>(i2d_ASN1_OBJECT(oid, nullptr)));
    unsigned char *cursor = oidDer.data();
    i2d_ASN1_OBJECT(oid, &cursor);
    ASN1_OBJECT_free(oid);
    return Tlv(0x30, oidDer);
}

Bytes SimpleBlob(std::span<const unsigned char> ukm, std::span<const unsigned char> encryptedKey,
                 std::span<const unsigned char> mac, const char *paramSetOid)
{
    GOST_SIMPLEBLOB header{};
    header.BlobHeader = {SIMPLEBLOB, 0x20, 0, ALG_GOST_28147};
    header.Magic = GOST_SIMPLEBLOB_MAGIC;
    header.EncryptKeyAlgId = ALG_GOST_28147;
    std::memcpy(header.bUkm, ukm.data(), sizeof header.bUkm);
    std::memcpy(header.bEncryptedKey, encryptedKey.data(), sizeof header.bEncryptedKey);
    std::memcpy(header.bMacKey, mac.data(), sizeof header.bMacKey);
    Bytes blob(sizeof header);
    std::memcpy(blob.data(), &header, sizeof header);
    const Bytes parameters = BlobParameters(paramSetOid);
    blob.insert(blob.end(), parameters.begin(), parameters.end());
    return blob;
}

Bytes PublicKeyBlobOf(const std::string &keyName)
{
    ProvHandle prov;
    AcquireContainer(keyName, &prov);
    KeyHandle user;
    EXPECT_TRUE(CryptGetUserKey(prov.h, AT_KEYEXCHANGE, &user.h));
    return ExportBlob(user.h, 0, PUBLICKEYBLOBEX);
}

void ImportKnownKey(const Bytes &cek, const char *paramSetOid, KnownSessionKey *known)
{
    AcquireContainer("gost2001-A-1", &known->prov);
    ASSERT_TRUE(CryptGetUserKey(known->prov.h, AT_KEYEXCHANGE, &known->user.h));
    const Bytes peer = PublicKeyBlobOf("gost2001-A-2");
    ASSERT_TRUE(CryptImportKey(known->prov.h, peer.data(), static_cast<DWORD>(peer.size()),
                               known->user.h, 0, &known->agreement.h));
    const Bytes ukm = FromHex("a1b2c3d4e5f60718");
    const auto kek =
        EngineVko(ReadPrivateKey("gost2001-A-2").get(), ReadPrivateKey("gost2001-A-1").get(),
                  std::span<const unsigned char, 8>(ukm.data(), 8));
    const Bytes wrapped = EngineGost89(szOID_Gost28147_89_Kelvarine_A_ParamSet)
                              .WrapCryptoPro(kek, std::span<const unsigned char, 8>(ukm.data(), 8),
                                             std::span<const unsigned char, 32>(cek.data(), 32));
    const Bytes blob = SimpleBlob(ukm, std::span(wrapped).subspan(8, 32),
                                  std::span(wrapped).subspan(40, 4), paramSetOid);
    ASSERT_TRUE(CryptImportKey(known->prov.h, blob.data(), static_cast<DWORD>(blob.size()),
                               known->agreement.h, CRYPT_EXPORTABLE, &known->session.h))
        << std::hex << GetLastError();
}

PkeyPtr ReadPrivateKey(const std::string &keyName)
{
    EngineModule();
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(KeyPath(keyName).c_str(), "r"),
                                                  BIO_free);
    PkeyPtr pkey(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    EXPECT_NE(nullptr, pkey) << keyName;
    return pkey;
}

// SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier, subjectPublicKey BIT STRING }
// whose BIT STRING holds the DER GostR3410-PublicKey OCTET STRING (RFC 4491 section 2.3.2).
PkeyPtr PublicKeyFromBlob(std::span<const unsigned char> blob, const char *keyOid)
{
    GOST_PUBLICKEYBLOB_HEADER header{};
    std::memcpy(&header, blob.data(), sizeof header);
    const size_t cbKey = header.BitLen / 8;
    const Bytes parameters(blob.begin() + sizeof header, blob.end() - cbKey);
    const Bytes key(blob.end() - cbKey, blob.end());
    ASN1_OBJECT *oid = OBJ_txt2obj(keyOid, 1);
    Bytes oidDer(i2d_ASN1_OBJECT(oid, nullptr));
    unsigned char *cursor = oidDer.data();
    i2d_ASN1_OBJECT(oid, &cursor);
    ASN1_OBJECT_free(oid);
    const Bytes spki = Tlv(0x30, Concat({Tlv(0x30, Concat({oidDer, parameters})),
                                         Tlv(0x03, Concat({Bytes{0x00}, Tlv(0x04, key)}))}));
    const unsigned char *in = spki.data();
    PkeyPtr pkey(d2i_PUBKEY(nullptr, &in, static_cast<long>(spki.size())));
    EXPECT_NE(nullptr, pkey);
    return pkey;
}

std::array<unsigned char, 32> EngineVko(EVP_PKEY *priv, EVP_PKEY *peer,
                                        std::span<const unsigned char, 8> ukm)
{
    std::array<unsigned char, 32> kek{};
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(priv, nullptr),
                                                                    EVP_PKEY_CTX_free);
    size_t length = kek.size();
    EXPECT_TRUE(ctx && EVP_PKEY_derive_init(ctx.get()) > 0 &&
                EVP_PKEY_derive_set_peer(ctx.get(), peer) > 0 &&
                EVP_PKEY_CTX_ctrl(ctx.get(), -1, EVP_PKEY_OP_DERIVE, EVP_PKEY_CTRL_SET_IV, 8,
                                  const_cast<unsigned char *>(ukm.data())) > 0 &&
                EVP_PKEY_derive(ctx.get(), kek.data(), &length) > 0 && length == kek.size());
    return kek;
}

EngineGost89::EngineGost89(const char *paramSetOid)
    : sbox_(EngineSymbol<const void *>(SboxSymbol(paramSetOid))), ctx_(std::make_unique<Context>())
{
    EngineSymbol<GostInitFn>("gost_init")(ctx_->bytes, sbox_);
}

std::array<std::array<unsigned char, 16>, 8> EngineGost89::Sbox() const
{
    std::array<std::array<unsigned char, 16>, 8> sbox{};
    const auto *k8First = static_cast<const unsigned char *>(sbox_);
    for (size_t i = 0; i < 8; ++i)
        std::memcpy(sbox[7 - i].data(), k8First + 16 * i, 16);
    return sbox;
}

Bytes EngineGost89::EncryptEcb(std::span<const unsigned char, 32> key,
                               std::span<const unsigned char> data)
{
    Bytes out(data.size());
    EngineSymbol<GostKeyFn>("gost_key")(ctx_->bytes, key.data());
    EngineSymbol<GostBlocksFn>("gost_enc")(ctx_->bytes, data.data(), out.data(),
                                           static_cast<int>(data.size() / 8));
    return out;
}

Bytes EngineGost89::DecryptEcb(std::span<const unsigned char, 32> key,
                               std::span<const unsigned char> data)
{
    Bytes out(data.size());
    EngineSymbol<GostKeyFn>("gost_key")(ctx_->bytes, key.data());
    EngineSymbol<GostBlocksFn>("gost_dec")(ctx_->bytes, data.data(), out.data(),
                                           static_cast<int>(data.size() / 8));
    return out;
}

Bytes EngineGost89::EncryptCfb(std::span<const unsigned char, 32> key,
                               std::span<const unsigned char, 8> iv,
                               std::span<const unsigned char> data)
{
    EngineSymbol<GostKeyFn>("gost_key")(ctx_->bytes, key.data());
    const auto crypt = EngineSymbol<GostCryptFn>("gostcrypt");
    Bytes out(data.size());
    unsigned char feedback[8], gamma[8];
    std::memcpy(feedback, iv.data(), 8);
    for (size_t offset = 0; offset < data.size(); offset += 8) {
        crypt(ctx_->bytes, feedback, gamma);
        for (size_t i = 0; i < 8 && offset + i < data.size(); ++i)
            feedback[i] = out[offset + i] = data[offset + i] ^ gamma[i];
    }
    return out;
}

std::array<unsigned char, 4> EngineGost89::MacWithIv(std::span<const unsigned char, 32> key,
                                                     std::span<const unsigned char, 8> iv,
                                                     std::span<const unsigned char> data)
{
    std::array<unsigned char, 4> mac{};
    EngineSymbol<GostKeyFn>("gost_key")(ctx_->bytes, key.data());
    EngineSymbol<GostMacIvFn>("gost_mac_iv")(ctx_->bytes, 32, iv.data(), data.data(),
                                             static_cast<unsigned int>(data.size()), mac.data());
    return mac;
}

Bytes EngineGost89::WrapCryptoPro(std::span<const unsigned char, 32> kek,
                                  std::span<const unsigned char, 8> ukm,
                                  std::span<const unsigned char, 32> cek)
{
    Bytes wrapped(44); // UKM, encrypted key, MAC
    EngineSymbol<KeyWrapFn>("keyWrapCryptoPro")(ctx_->bytes, kek.data(), ukm.data(), cek.data(),
                                                wrapped.data());
    return wrapped;
}

bool EngineGost89::UnwrapCryptoPro(std::span<const unsigned char, 32> kek,
                                   std::span<const unsigned char, 44> wrapped,
                                   std::array<unsigned char, 32> *cek)
{
    return EngineSymbol<KeyUnwrapFn>("keyUnwrapCryptoPro")(ctx_->bytes, kek.data(), wrapped.data(),
                                                           cek->data()) == 1;
}

} // namespace csptest

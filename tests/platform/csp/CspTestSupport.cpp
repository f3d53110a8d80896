#include "CspTestSupport.h"

#include "common/TraceFile.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <dlfcn.h>

#include <algorithm>
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
// The engine's entry of its parameter-set table (gost_lcl.h): S-box by OID.
struct EngineCipherInfo {
    int nid;
    const void *sbox;
    int keyMeshing;
};
using EncryptionParamsFn = const EngineCipherInfo *(*)(ASN1_OBJECT *oid);

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

const void *EngineSbox(const char *paramSetOid)
{
    std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> oid(OBJ_txt2obj(paramSetOid, 1),
                                                                  ASN1_OBJECT_free);
    const EngineCipherInfo *info =
        oid ? EngineSymbol<EncryptionParamsFn>("get_encryption_params")(oid.get()) : nullptr;
    EXPECT_NE(nullptr, info) << paramSetOid;
    return info ? info->sbox : nullptr;
}

// The dotted text of a whole DER OBJECT IDENTIFIER.
std::string OidText(const Bytes &oidDer)
{
    const unsigned char *in = oidDer.data();
    std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> oid(
        d2i_ASN1_OBJECT(nullptr, &in, static_cast<long>(oidDer.size())), ASN1_OBJECT_free);
    char text[128] = "";
    if (oid) OBJ_obj2txt(text, sizeof text, oid.get(), 1);
    return text;
}

// Octets [from, to) of `der`, cut at its end (ReadTlv has already failed the test then).
Bytes Octets(const Bytes &der, size_t from, size_t to)
{
    to = std::min(to, der.size());
    return Bytes(der.begin() + static_cast<std::ptrdiff_t>(std::min(from, to)),
                 der.begin() + static_cast<std::ptrdiff_t>(to));
}

Bytes Contents(const Bytes &der, const Tlv &tlv)
{
    return Octets(der, tlv.contentStart, tlv.End());
}

} // namespace

BOOL ImportBlob(HCRYPTPROV hProv, const Bytes &blob, HCRYPTKEY hPubKey, HCRYPTKEY *phKey)
{
    return CryptImportKey(hProv, blob.data(), static_cast<DWORD>(blob.size()), hPubKey, 0, phKey);
}

BOOL SetParam(HCRYPTKEY hKey, DWORD param, const void *value)
{
    return CryptSetKeyParam(hKey, param, static_cast<const BYTE *>(value), 0);
}

void OpenAgreement(const std::string &container, const Bytes &peerBlob, ProvHandle *prov,
                   KeyHandle *user, KeyHandle *agreement)
{
    AcquireContainer(container, prov);
    ASSERT_TRUE(CryptGetUserKey(prov->h, AT_KEYEXCHANGE, &user->h));
    ASSERT_TRUE(ImportBlob(prov->h, peerBlob, user->h, &agreement->h))
        << std::hex << GetLastError();
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
    const Bytes value = GetBytesParam(hKey, param);
    EXPECT_TRUE(!value.empty() && value.back() == 0);
    return value.empty() ? std::string() : std::string(value.begin(), value.end() - 1);
}

DWORD GetDwordParam(HCRYPTKEY hKey, DWORD param)
{
    const Bytes value = GetBytesParam(hKey, param);
    DWORD out = 0;
    EXPECT_EQ(sizeof out, value.size());
    std::memcpy(&out, value.data(), std::min(sizeof out, value.size()));
    return out;
}

Bytes GetBytesParam(HCRYPTKEY hKey, DWORD param)
{
    DWORD cb = 0;
    EXPECT_TRUE(CryptGetKeyParam(hKey, param, nullptr, &cb, 0)) << std::hex << GetLastError();
    Bytes value(cb);
    EXPECT_TRUE(CryptGetKeyParam(hKey, param, value.data(), &cb, 0)) << std::hex << GetLastError();
    value.resize(cb);
    return value;
}

Bytes Encrypt(HCRYPTKEY hKey, Bytes data)
{
    DWORD cb = static_cast<DWORD>(data.size());
    EXPECT_TRUE(CryptEncrypt(hKey, 0, TRUE, 0, data.data(), &cb, cb)) << std::hex << GetLastError();
    return data;
}

Bytes BlobParameters(const char *paramSetOid)
{
    return Der(0x30, kvtest::DerOid(paramSetOid));
}

Bytes SimpleBlob(std::span<const unsigned char> ukm, std::span<const unsigned char> encryptedKey,
                 std::span<const unsigned char> mac, const char *paramSetOid)
{
    EXPECT_TRUE(ukm.size() == 8 && encryptedKey.size() == 32 && mac.size() == 4);
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

Tlv ReadTlv(const Bytes &der, size_t offset)
{
    Tlv tlv{der.at(offset), offset + 2, der.at(offset + 1)};
    if (tlv.contentLength & 0x80) {
        const size_t octets = tlv.contentLength & 0x7F;
        tlv.contentLength = 0;
        for (size_t i = 0; i < octets; ++i)
            tlv.contentLength = tlv.contentLength << 8 | der.at(offset + 2 + i);
        tlv.contentStart += octets;
    }
    EXPECT_LE(tlv.End(), der.size());
    return tlv;
}

// SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier, subjectPublicKey BIT STRING }
// AlgorithmIdentifier ::= SEQUENCE { algorithm OBJECT IDENTIFIER, parameters ANY OPTIONAL }
SpkiParts SplitSpki(const Bytes &spki)
{
    const Tlv whole = ReadTlv(spki, 0), algorithm = ReadTlv(spki, whole.contentStart);
    const Tlv oid = ReadTlv(spki, algorithm.contentStart);
    const Tlv bits = ReadTlv(spki, algorithm.End());
    const Tlv octets = ReadTlv(spki, bits.contentStart + 1); // after the unused-bits octet
    return {Octets(spki, oid.End(), algorithm.End()), Contents(spki, octets)};
}

Bytes PublicKeyBlob(ALG_ID signAlgId, const SpkiParts &spki)
{
    const GOST_PUBLICKEYBLOB_HEADER header{{PUBLICKEYBLOB, 0x20, 0, signAlgId},
                                           GOST_PUBKEY_MAGIC,
                                           static_cast<DWORD>(8 * spki.key.size())};
    Bytes blob(sizeof header);
    std::memcpy(blob.data(), &header, sizeof header);
    return Cat({blob, spki.parameters, spki.key});
}

KeyTransport ParseKeyTransport(const Bytes &der)
{
    KeyTransport out;
    const Tlv transport = ReadTlv(der, 0), encrypted = ReadTlv(der, transport.contentStart);
    const Tlv encryptedKey = ReadTlv(der, encrypted.contentStart);
    size_t next = encryptedKey.End();
    if (ReadTlv(der, next).tag == 0x80) next = ReadTlv(der, next).End(); // maskKey
    out.encryptedKey = Contents(der, encryptedKey);
    out.mac = Contents(der, ReadTlv(der, next));
    if (encrypted.End() == transport.End()) return out;
    const Tlv parameters = ReadTlv(der, encrypted.End());
    EXPECT_EQ(0xA0, parameters.tag);
    const Tlv paramSet = ReadTlv(der, parameters.contentStart);
    out.paramSet = OidText(Octets(der, parameters.contentStart, paramSet.End()));
    Tlv field = ReadTlv(der, paramSet.End());
    if (field.tag == 0xA0) { // ephemeralPublicKey, given back with its universal SEQUENCE tag
        out.ephemeralSpki = Octets(der, paramSet.End(), field.End());
        out.ephemeralSpki[0] = 0x30;
        field = ReadTlv(der, field.End());
    }
    out.ukm = Contents(der, field);
    return out;
}

Bytes KeyTransportDer(const KeyTransport &transport)
{
    Bytes ephemeral = transport.ephemeralSpki;
    if (!ephemeral.empty()) ephemeral[0] = 0xA0;
    return Der(0x30,
               Cat({Der(0x30, Cat({Der(0x04, transport.encryptedKey), Der(0x04, transport.mac)})),
                    Der(0xA0, Cat({kvtest::DerOid(transport.paramSet.c_str()), ephemeral,
                                   Der(0x04, transport.ukm)}))}));
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
    OpenAgreement("gost2001-A-1", PublicKeyBlobOf("gost2001-A-2"), &known->prov, &known->user,
                  &known->agreement);
    const Bytes ukm = FromHex("a1b2c3d4e5f60718");
    const KeyTransport transport = ParseKeyTransport(EngineSendKey(
        ReadPrivateKey("gost2001-A-1").get(), ReadPrivateKey("gost2001-A-2").get(), ukm, cek));
    ASSERT_EQ(szOID_Gost28147_89_Kelvarine_A_ParamSet, transport.paramSet);
    const Bytes blob =
        SimpleBlob(transport.ukm, transport.encryptedKey, transport.mac, paramSetOid);
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
    const Bytes spki = Der(0x30, Cat({Der(0x30, Cat({kvtest::DerOid(keyOid), parameters})),
                                      Der(0x03, Cat({Bytes{0x00}, Der(0x04, key)}))}));
    const unsigned char *in = spki.data();
    PkeyPtr pkey(d2i_PUBKEY(nullptr, &in, static_cast<long>(spki.size())));
    EXPECT_NE(nullptr, pkey);
    return pkey;
}

std::array<unsigned char, 32> EngineVko(EVP_PKEY *priv, EVP_PKEY *peer,
                                        std::span<const unsigned char> ukm)
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

Bytes SpkiOf(EVP_PKEY *pkey)
{
    Bytes der(static_cast<size_t>(std::max(0, i2d_PUBKEY(pkey, nullptr))));
    unsigned char *cursor = der.data();
    EXPECT_EQ(static_cast<int>(der.size()), i2d_PUBKEY(pkey, &cursor));
    return der;
}

Bytes EngineSendKey(EVP_PKEY *recipient, EVP_PKEY *sender, std::span<const unsigned char> ukm,
                    std::span<const unsigned char> cek)
{
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new(recipient, nullptr), EVP_PKEY_CTX_free);
    EXPECT_TRUE(ctx && EVP_PKEY_encrypt_init(ctx.get()) > 0);
    if (!ctx) return {};
    // A sender's key pair set as the peer makes the engine use it instead of an ephemeral one.
    EXPECT_TRUE(!sender || EVP_PKEY_derive_set_peer(ctx.get(), sender) > 0);
    EXPECT_TRUE(ukm.empty() || EVP_PKEY_CTX_ctrl(ctx.get(), -1, EVP_PKEY_OP_ENCRYPT,
                                                 EVP_PKEY_CTRL_SET_IV, static_cast<int>(ukm.size()),
                                                 const_cast<unsigned char *>(ukm.data())) > 0);
    size_t length = 0;
    EXPECT_GT(EVP_PKEY_encrypt(ctx.get(), nullptr, &length, cek.data(), cek.size()), 0);
    Bytes transport(length);
    EXPECT_GT(EVP_PKEY_encrypt(ctx.get(), transport.data(), &length, cek.data(), cek.size()), 0);
    transport.resize(std::min(length, transport.size()));
    return transport;
}

std::optional<std::array<unsigned char, 32>> EngineReceiveKey(EVP_PKEY *recipient,
                                                              const Bytes &transport)
{
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new(recipient, nullptr), EVP_PKEY_CTX_free);
    EXPECT_TRUE(ctx && EVP_PKEY_decrypt_init(ctx.get()) > 0);
    std::array<unsigned char, 32> cek{};
    size_t length = cek.size();
    const bool opened = ctx && EVP_PKEY_decrypt(ctx.get(), cek.data(), &length, transport.data(),
                                                transport.size()) > 0;
    ERR_clear_error();
    if (!opened || length != cek.size()) return std::nullopt;
    return cek;
}

EngineGost89::EngineGost89(const char *paramSetOid)
    : sbox_(EngineSbox(paramSetOid)), ctx_(std::make_unique<Context>())
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

Bytes EngineGost89::EncryptEcb(std::span<const unsigned char> key,
                               std::span<const unsigned char> data)
{
    Bytes out(data.size());
    EngineSymbol<GostKeyFn>("gost_key")(ctx_->bytes, key.data());
    EngineSymbol<GostBlocksFn>("gost_enc")(ctx_->bytes, data.data(), out.data(),
                                           static_cast<int>(data.size() / 8));
    return out;
}

Bytes EngineGost89::DecryptEcb(std::span<const unsigned char> key,
                               std::span<const unsigned char> data)
{
    Bytes out(data.size());
    EngineSymbol<GostKeyFn>("gost_key")(ctx_->bytes, key.data());
    EngineSymbol<GostBlocksFn>("gost_dec")(ctx_->bytes, data.data(), out.data(),
                                           static_cast<int>(data.size() / 8));
    return out;
}

Bytes EngineGost89::EncryptCfb(std::span<const unsigned char> key,
                               std::span<const unsigned char> iv,
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

std::array<unsigned char, 4> EngineGost89::MacWithIv(std::span<const unsigned char> key,
                                                     std::span<const unsigned char> iv,
                                                     std::span<const unsigned char> data)
{
    std::array<unsigned char, 4> mac{};
    EngineSymbol<GostKeyFn>("gost_key")(ctx_->bytes, key.data());
    EngineSymbol<GostMacIvFn>("gost_mac_iv")(ctx_->bytes, 32, iv.data(), data.data(),
                                             static_cast<unsigned int>(data.size()), mac.data());
    return mac;
}

} // namespace csptest

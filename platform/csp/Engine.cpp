#include "Engine.h"

#include <openssl/bio.h>
#include <openssl/engine.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <climits>

namespace kvcsp {
namespace {

struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX *ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
struct BioFree {
    void operator()(BIO *bio) const { BIO_free(bio); }
};
struct X509PubkeyFree {
    void operator()(X509_PUBKEY *key) const { X509_PUBKEY_free(key); }
};
using X509PubkeyPtr = std::unique_ptr<X509_PUBKEY, X509PubkeyFree>;
struct OctetStringFree {
    void operator()(ASN1_OCTET_STRING *s) const { ASN1_OCTET_STRING_free(s); }
};
struct AsnStringFree {
    void operator()(ASN1_STRING *s) const { ASN1_STRING_free(s); }
};
struct AsnObjectFree {
    void operator()(ASN1_OBJECT *object) const { ASN1_OBJECT_free(object); }
};
struct OpensslFree {
    void operator()(unsigned char *p) const { OPENSSL_free(p); }
};

Pkey WrapPkey(EVP_PKEY *pkey)
{
    return Pkey(pkey, EVP_PKEY_free);
}

// Loads the engine from OpenSSL's engines directory and makes it the implementation of
// the algorithms it offers. The references are kept for the life of the process.
ENGINE *LoadGostEngine()
{
    OPENSSL_init_crypto(OPENSSL_INIT_ENGINE_DYNAMIC, nullptr);
    ENGINE *engine = ENGINE_by_id("gost");
    if (!engine) return nullptr;
    if (!ENGINE_init(engine)) {
        ENGINE_free(engine);
        return nullptr;
    }
    if (!ENGINE_set_default(engine, ENGINE_METHOD_ALL)) {
        ENGINE_finish(engine);
        ENGINE_free(engine);
        return nullptr;
    }
    return engine;
}

ENGINE *GostEngine()
{
    static ENGINE *const engine = LoadGostEngine();
    return engine;
}

int NoPassword(char *, int, int, void *)
{
    return 0;
}

// The algorithm parameters of a SubjectPublicKeyInfo as one DER TLV.
bool ParametersTlv(const X509_ALGOR *algorithm, std::vector<BYTE> *parameters)
{
    int type = V_ASN1_UNDEF;
    const void *value = nullptr;
    X509_ALGOR_get0(nullptr, &type, &value, algorithm);
    if (type == V_ASN1_UNDEF || type == V_ASN1_NULL) {
        *parameters = {V_ASN1_NULL, 0x00};
        return true;
    }
    if (type != V_ASN1_SEQUENCE) return false;
    const auto *sequence = static_cast<const ASN1_STRING *>(value);
    const BYTE *data = ASN1_STRING_get0_data(sequence);
    parameters->assign(data, data + ASN1_STRING_length(sequence));
    return true;
}

// The contents of the GostR3410-PublicKey OCTET STRING carried in the BIT STRING.
bool KeyOctets(const BYTE *bits, int bitsLength, std::vector<BYTE> *key)
{
    std::unique_ptr<ASN1_OCTET_STRING, OctetStringFree> octets(
        d2i_ASN1_OCTET_STRING(nullptr, &bits, bitsLength));
    if (!octets) return false;
    const BYTE *data = ASN1_STRING_get0_data(octets.get());
    key->assign(data, data + ASN1_STRING_length(octets.get()));
    return true;
}

// The DER GostR3410-PublicKey OCTET STRING that a SubjectPublicKeyInfo's BIT STRING carries.
std::unique_ptr<unsigned char, OpensslFree> EncodeKeyOctets(std::span<const BYTE> key, int *length)
{
    std::unique_ptr<ASN1_OCTET_STRING, OctetStringFree> octets(ASN1_OCTET_STRING_new());
    unsigned char *encoded = nullptr;
    if (!octets || !ASN1_OCTET_STRING_set(octets.get(), key.data(), static_cast<int>(key.size())) ||
        (*length = i2d_ASN1_OCTET_STRING(octets.get(), &encoded)) <= 0)
        return nullptr;
    return std::unique_ptr<unsigned char, OpensslFree>(encoded);
}

// A SubjectPublicKeyInfo for the family with the given parameters TLV and key octets.
X509PubkeyPtr BuildSubjectPublicKeyInfo(const KeyFamily &family, std::span<const BYTE> parameters,
                                        std::span<const BYTE> key)
{
    if (parameters.empty() || parameters[0] != (V_ASN1_CONSTRUCTED | V_ASN1_SEQUENCE))
        return nullptr; // the engine needs the curve from the parameters
    int cbEncodedKey = 0;
    std::unique_ptr<unsigned char, OpensslFree> encodedKey = EncodeKeyOctets(key, &cbEncodedKey);
    std::unique_ptr<ASN1_STRING, AsnStringFree> sequence(ASN1_STRING_type_new(V_ASN1_SEQUENCE));
    std::unique_ptr<ASN1_OBJECT, AsnObjectFree> oid(OBJ_txt2obj(family.keyOid, 1));
    X509PubkeyPtr spki(X509_PUBKEY_new());
    if (!encodedKey || !sequence || !oid || !spki ||
        !ASN1_STRING_set(sequence.get(), parameters.data(), static_cast<int>(parameters.size())) ||
        !X509_PUBKEY_set0_param(spki.get(), oid.get(), V_ASN1_SEQUENCE, sequence.get(),
                                encodedKey.get(), cbEncodedKey))
        return nullptr;
    oid.release(); // owned by the SubjectPublicKeyInfo now
    sequence.release();
    encodedKey.release();
    return spki;
}

} // namespace

bool GostEngineAvailable()
{
    return GostEngine() != nullptr;
}

CipherCtxPtr NewGost28147Cfb(const Gost28147ParamSet &paramSet, std::span<const BYTE, 32> key,
                             std::span<const BYTE, 8> iv, bool encrypt)
{
    const EVP_CIPHER *cipher = ENGINE_get_cipher(GostEngine(), NID_id_Gost28147_89);
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!cipher || !ctx) return nullptr;
    // The S-box is chosen between the cipher's set-up and the key's: the engine keeps it
    // when the key is installed.
    if (!EVP_CipherInit_ex(ctx.get(), cipher, GostEngine(), nullptr, nullptr, encrypt) ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_SET_SBOX, 0, const_cast<char *>(paramSet.oid)) <=
            0 ||
        !EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key.data(), iv.data(), encrypt))
        return nullptr;
    return ctx;
}

bool Gost28147CfbUpdate(EVP_CIPHER_CTX *ctx, std::span<BYTE> data)
{
    while (!data.empty()) {
        const int chunk = static_cast<int>(std::min<size_t>(data.size(), INT_MAX / 2));
        int written = 0;
        if (!EVP_CipherUpdate(ctx, data.data(), &written, data.data(), chunk) || written != chunk)
            return false;
        data = data.subspan(static_cast<size_t>(chunk));
    }
    return true;
}

Pkey GenerateKeyPair(const KeyFamily &family, std::string_view paramSetOid)
{
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(family.nid, GostEngine()));
    const std::string paramSet(paramSetOid);
    EVP_PKEY *pkey = nullptr;
    // The engine's "paramset" text control takes only some sets by OID; its parameter-set
    // control (EVP_PKEY_ALG_CTRL + 1) takes every set by NID.
    const int paramSetNid = OBJ_txt2nid(paramSet.c_str());
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) <= 0 || paramSetNid == NID_undef ||
        EVP_PKEY_CTX_ctrl(ctx.get(), -1, -1, EVP_PKEY_ALG_CTRL + 1, paramSetNid, nullptr) <= 0 ||
        EVP_PKEY_keygen(ctx.get(), &pkey) <= 0)
        return nullptr;
    return WrapPkey(pkey);
}

Pkey ReadPrivateKeyFile(const std::string &path)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new_file(path.c_str(), "r"));
    if (!bio) return nullptr;
    Pkey pkey = WrapPkey(PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassword, nullptr));
    if (!pkey || !FamilyOf(pkey.get())) return nullptr;
    return pkey;
}

const KeyFamily *FamilyOf(EVP_PKEY *pkey)
{
    return FamilyByNid(EVP_PKEY_get_base_id(pkey));
}

bool SameDomain(EVP_PKEY *a, EVP_PKEY *b)
{
    return EVP_PKEY_get_base_id(a) == EVP_PKEY_get_base_id(b) && EVP_PKEY_parameters_eq(a, b) == 1;
}

bool EncodePublicKey(EVP_PKEY *pkey, EncodedPublicKey *encoded)
{
    unsigned char *der = nullptr;
    const int derLength = i2d_PUBKEY(pkey, &der);
    if (derLength <= 0) return false;
    std::unique_ptr<unsigned char, OpensslFree> releaseDer(der);
    const unsigned char *cursor = der;
    X509PubkeyPtr spki(d2i_X509_PUBKEY(nullptr, &cursor, derLength));
    const BYTE *bits = nullptr;
    int bitsLength = 0;
    X509_ALGOR *algorithm = nullptr;
    return spki && X509_PUBKEY_get0_param(nullptr, &bits, &bitsLength, &algorithm, spki.get()) &&
           ParametersTlv(algorithm, &encoded->parameters) &&
           KeyOctets(bits, bitsLength, &encoded->key);
}

Pkey DecodePublicKey(const KeyFamily &family, std::span<const BYTE> parameters,
                     std::span<const BYTE> key)
{
    X509PubkeyPtr spki = BuildSubjectPublicKeyInfo(family, parameters, key);
    unsigned char *der = nullptr;
    const int derLength = spki ? i2d_X509_PUBKEY(spki.get(), &der) : 0;
    if (derLength <= 0) return nullptr;
    std::unique_ptr<unsigned char, OpensslFree> releaseDer(der);
    const unsigned char *cursor = der;
    Pkey pkey = WrapPkey(d2i_PUBKEY(nullptr, &cursor, derLength));
    if (!pkey || FamilyOf(pkey.get()) != &family) return nullptr;
    return pkey;
}

bool DeriveVko(EVP_PKEY *own, EVP_PKEY *peer, std::span<const BYTE, 8> ukm, Gost28147Key *kek)
{
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(own, nullptr));
    size_t length = kek->size();
    return ctx && EVP_PKEY_derive_init(ctx.get()) > 0 &&
           EVP_PKEY_derive_set_peer(ctx.get(), peer) > 0 &&
           EVP_PKEY_CTX_ctrl(ctx.get(), -1, EVP_PKEY_OP_DERIVE, EVP_PKEY_CTRL_SET_IV,
                             static_cast<int>(ukm.size()), const_cast<BYTE *>(ukm.data())) > 0 &&
           EVP_PKEY_derive(ctx.get(), kek->data(), &length) > 0 && length == kek->size();
}

bool RandomBytes(std::span<BYTE> out)
{
    return RAND_priv_bytes(out.data(), static_cast<int>(out.size())) == 1;
}

} // namespace kvcsp

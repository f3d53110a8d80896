// Helpers of the provider tests: handles that clean up after themselves, the test keys, and
// OpenSSL's GOST engine as an independent peer (its EVP interface, and for the GOST 28147-89
// pieces it keeps internal, the functions its module exports).
#pragma once

#include "gostcsp.h"

#include "common/Der.h"
#include "common/FileTest.h"

#include <openssl/evp.h>

#include <array>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace csptest {

using Bytes = std::vector<unsigned char>;

using kvtest::Cat;
using kvtest::Der;
using kvtest::FromHex;
using kvtest::ToHex;

struct ProvHandle {
    HCRYPTPROV h = 0;
    ProvHandle() = default;
    ProvHandle(const ProvHandle &) = delete;
    ~ProvHandle();
};
struct KeyHandle {
    HCRYPTKEY h = 0;
    KeyHandle() = default;
    KeyHandle(const KeyHandle &) = delete;
    ~KeyHandle();
};

// A provider without a container, and one whose container is a key file under tests/data/csp
// ("gost2001-A-1" and so on; the absolute path of "<name>.pem").
void AcquireVerify(ProvHandle *prov);
void AcquireContainer(const std::string &keyName, ProvHandle *prov);
std::string KeyPath(const std::string &keyName);

// Provider calls whose failure fails the test.
Bytes ExportBlob(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD blobType);
std::string GetTextParam(HCRYPTKEY hKey, DWORD param);
DWORD GetDwordParam(HCRYPTKEY hKey, DWORD param);
Bytes GetBytesParam(HCRYPTKEY hKey, DWORD param);
Bytes Encrypt(HCRYPTKEY hKey, Bytes data);
// CryptImportKey of a whole blob, and CryptSetKeyParam without flags.
BOOL ImportBlob(HCRYPTPROV hProv, const Bytes &blob, HCRYPTKEY hPubKey, HCRYPTKEY *phKey);
BOOL SetParam(HCRYPTKEY hKey, DWORD param, const void *value);

struct PkeyFree {
    void operator()(EVP_PKEY *p) const { EVP_PKEY_free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

// The DER Gost28147-89-BlobParameters of a parameter set, encoded here.
Bytes BlobParameters(const char *paramSetOid);
// A GOST SIMPLEBLOB laid out from its parts.
Bytes SimpleBlob(std::span<const unsigned char> ukm, std::span<const unsigned char> encryptedKey,
                 std::span<const unsigned char> mac, const char *paramSetOid);
// The public key of a container's key file, exported by the provider.
Bytes PublicKeyBlobOf(const std::string &keyName);

// A container's exchange key and its agreement key with a peer's public-key blob.
void OpenAgreement(const std::string &container, const Bytes &peerBlob, ProvHandle *prov,
                   KeyHandle *user, KeyHandle *agreement);

// A session key of known value: the container gost2001-A-1, its agreement key with the
// public key of gost2001-A-2 (Kelvarine key wrap, S-box 1.2.643.2.2.31.1), and the key imported
// from a SIMPLEBLOB whose wrapped key, MAC and UKM come from the engine's key transport sent
// from gost2001-A-2's key pair.
struct KnownSessionKey {
    ProvHandle prov;
    KeyHandle user, agreement, session;
};
void ImportKnownKey(const Bytes &cek, const char *paramSetOid, KnownSessionKey *known);

// One DER TLV at `offset`: its tag, where its contents start and how long they are.
struct Tlv {
    unsigned char tag;
    size_t contentStart, contentLength;
    size_t End() const { return contentStart + contentLength; }
};
Tlv ReadTlv(const Bytes &der, size_t offset);

// The algorithm parameters TLV and the GostR3410-PublicKey contents (X then Y, little-endian)
// of a DER SubjectPublicKeyInfo.
struct SpkiParts {
    Bytes parameters, key;
};
SpkiParts SplitSpki(const Bytes &spki);
// A GOST public-key blob (PUBLICKEYBLOB, reserved 0) with the parts of a SubjectPublicKeyInfo.
Bytes PublicKeyBlob(ALG_ID signAlgId, const SpkiParts &spki);

// GostR3410-KeyTransport ::= SEQUENCE {
//     sessionEncryptedKey  Gost28147-89-EncryptedKey,
//     transportParameters  [0] IMPLICIT GostR3410-TransportParameters OPTIONAL }
// Gost28147-89-EncryptedKey ::= SEQUENCE {
//     encryptedKey  Gost28147-89-Key,                    -- OCTET STRING (SIZE (32))
//     maskKey       [0] IMPLICIT Gost28147-89-Key OPTIONAL,
//     macKey        Gost28147-89-MAC }                   -- OCTET STRING (SIZE (1..4))
// GostR3410-TransportParameters ::= SEQUENCE {
//     encryptionParamSet  OBJECT IDENTIFIER,
//     ephemeralPublicKey  [0] IMPLICIT SubjectPublicKeyInfo OPTIONAL,
//     ukm                 OCTET STRING }                 -- RFC 4490
// The parts the tests use; the transport parameters are always present.
struct KeyTransport {
    Bytes encryptedKey, mac;
    std::string paramSet; // dotted
    Bytes ephemeralSpki;  // the whole SubjectPublicKeyInfo; empty when absent
    Bytes ukm;
};
KeyTransport ParseKeyTransport(const Bytes &der);
Bytes KeyTransportDer(const KeyTransport &transport);

// Keys through OpenSSL itself, with the engine the provider has loaded.
PkeyPtr ReadPrivateKey(const std::string &keyName);
// The public key of a GOST public-key blob, through a SubjectPublicKeyInfo assembled here.
PkeyPtr PublicKeyFromBlob(std::span<const unsigned char> blob, const char *keyOid);
// The DER SubjectPublicKeyInfo of a key's public part.
Bytes SpkiOf(EVP_PKEY *pkey);
// The engine's VKO: EVP_PKEY_derive with the UKM set by EVP_PKEY_CTRL_SET_IV.
std::array<unsigned char, 32> EngineVko(EVP_PKEY *priv, EVP_PKEY *peer,
                                        std::span<const unsigned char> ukm);
// The engine's GOST R 34.10 key transport of `cek` to `recipient` (EVP_PKEY_encrypt): the VKO
// of the sender's private key and the recipient's public key under the UKM, and the key wrap
// with diversification of RFC 4357 section 6.3 under it. Without `sender` the engine makes an
// ephemeral key pair and writes its public key into the transport; without `ukm` it draws one.
// The engine always wraps with S-box 1.2.643.2.2.31.1 for 2001 keys and
// 1.2.643.7.1.2.5.1.1 for 2012 keys, and names it in the transport.
Bytes EngineSendKey(EVP_PKEY *recipient, EVP_PKEY *sender, std::span<const unsigned char> ukm,
                    std::span<const unsigned char> cek);
// The engine as the transport's recipient (EVP_PKEY_decrypt): VKO with the ephemeral public
// key, unwrap with the S-box the transport names, MAC check. Nothing when the engine refuses.
std::optional<std::array<unsigned char, 32>> EngineReceiveKey(EVP_PKEY *recipient,
                                                              const Bytes &transport);

// GOST 28147-89 functions of the engine module (gost89.c), called with a context set up for
// one parameter set, whose S-box the engine's own OID table (get_encryption_params) gives.
class EngineGost89 {
  public:
    explicit EngineGost89(const char *paramSetOid);
    // The engine's S-box, K1 first (its gost_subst_block lists K8 first).
    std::array<std::array<unsigned char, 16>, 8> Sbox() const;
    Bytes EncryptEcb(std::span<const unsigned char> key, std::span<const unsigned char> data);
    Bytes DecryptEcb(std::span<const unsigned char> key, std::span<const unsigned char> data);
    // Plain CFB from single-block encryptions (no key meshing; messages under 1024 bytes).
    Bytes EncryptCfb(std::span<const unsigned char> key, std::span<const unsigned char> iv,
                     std::span<const unsigned char> data);
    std::array<unsigned char, 4> MacWithIv(std::span<const unsigned char> key,
                                           std::span<const unsigned char> iv,
                                           std::span<const unsigned char> data);

  private:
    const void *sbox_;
    struct alignas(16) Context {
        unsigned char bytes[8192]; // the engine's gost_ctx is 4192 bytes
    };
    std::unique_ptr<Context> ctx_;
};

} // namespace csptest

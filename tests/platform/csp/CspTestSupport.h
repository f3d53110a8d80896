// Helpers of the provider tests: handles that clean up after themselves, the test keys, and
// OpenSSL's GOST engine as an independent peer (its EVP interface, and for the GOST 28147-89
// pieces it keeps internal, the functions its module exports).
#pragma once

#include "gostcsp.h"

#include <openssl/evp.h>

#include <array>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace csptest {

using Bytes = std::vector<unsigned char>;

Bytes FromHex(const std::string &hex);
std::string ToHex(std::span<const unsigned char> bytes);

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

// A session key of known value: the container gost2001-A-1, its agreement key with the
// public key of gost2001-A-2 (CryptoPro key wrap, CryptoPro-A S-box), and the key imported
// from a SIMPLEBLOB the engine wrapped under the VKO of gost2001-A-2's private key.
struct KnownSessionKey {
    ProvHandle prov;
    KeyHandle user, agreement, session;
};
void ImportKnownKey(const Bytes &cek, const char *paramSetOid, KnownSessionKey *known);

// Keys through OpenSSL itself, with the engine the provider has loaded.
PkeyPtr ReadPrivateKey(const std::string &keyName);
// The public key of a GOST public-key blob, through a SubjectPublicKeyInfo assembled here.
PkeyPtr PublicKeyFromBlob(std::span<const unsigned char> blob, const char *keyOid);
// The engine's VKO: EVP_PKEY_derive with the UKM set by EVP_PKEY_CTRL_SET_IV.
std::array<unsigned char, 32> EngineVko(EVP_PKEY *priv, EVP_PKEY *peer,
                                        std::span<const unsigned char, 8> ukm);

// GOST 28147-89 functions of the engine module (gost89.c, gost_keywrap.c), called with a
// context set up for one parameter set.
class EngineGost89 {
  public:
    explicit EngineGost89(const char *paramSetOid);
    // The engine's S-box, K1 first (its gost_subst_block lists K8 first).
    std::array<std::array<unsigned char, 16>, 8> Sbox() const;
    Bytes EncryptEcb(std::span<const unsigned char, 32> key, std::span<const unsigned char> data);
    Bytes DecryptEcb(std::span<const unsigned char, 32> key, std::span<const unsigned char> data);
    // Plain CFB from single-block encryptions (no key meshing; messages under 1024 bytes).
    Bytes EncryptCfb(std::span<const unsigned char, 32> key, std::span<const unsigned char, 8> iv,
                     std::span<const unsigned char> data);
    std::array<unsigned char, 4> MacWithIv(std::span<const unsigned char, 32> key,
                                           std::span<const unsigned char, 8> iv,
                                           std::span<const unsigned char> data);
    // keyWrapCryptoPro: UKM, encrypted key, MAC (44 bytes).
    Bytes WrapCryptoPro(std::span<const unsigned char, 32> kek,
                        std::span<const unsigned char, 8> ukm,
                        std::span<const unsigned char, 32> cek);
    // keyUnwrapCryptoPro; false when the MAC does not match.
    bool UnwrapCryptoPro(std::span<const unsigned char, 32> kek,
                         std::span<const unsigned char, 44> wrapped,
                         std::array<unsigned char, 32> *cek);

  private:
    const void *sbox_;
    struct alignas(16) Context {
        unsigned char bytes[8192]; // the engine's gost_ctx is 4192 bytes
    };
    std::unique_ptr<Context> ctx_;
};

} // namespace csptest

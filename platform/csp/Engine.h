// What the provider takes from OpenSSL's GOST engine: GOST R 34.10 key pairs (generation,
// PEM files, public-key encoding), the VKO key agreement, GOST 28147-89 in CFB mode, and
// random numbers. The engine is loaded programmatically; no OpenSSL configuration file is
// needed.
#pragma once

#include "Gost28147.h"
#include "GostParams.h"

#include <openssl/evp.h>

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvcsp {

// Key pairs and public keys are shared between the key objects made from them.
using Pkey = std::shared_ptr<EVP_PKEY>;

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX *ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

// True once the engine is loaded and registered as the implementation of its algorithms.
bool GostEngineAvailable();

// GOST 28147-89 in CFB mode with Kelvarine key meshing (RFC 4357 section 2.3.2): the
// engine's gost89 cipher with the parameter set's S-box. Null on failure.
CipherCtxPtr NewGost28147Cfb(const Gost28147ParamSet &paramSet, std::span<const BYTE, 32> key,
                             std::span<const BYTE, 8> iv, bool encrypt);
// Encrypts or decrypts `data` in place, continuing the stream.
bool Gost28147CfbUpdate(EVP_CIPHER_CTX *ctx, std::span<BYTE> data);

// A new key pair of the family on the curve `paramSetOid`; null on failure.
Pkey GenerateKeyPair(const KeyFamily &family, std::string_view paramSetOid);
// The GOST private key of a PEM file; null when the file cannot be read or holds no
// GOST R 34.10 private key.
Pkey ReadPrivateKeyFile(const std::string &path);
// The key's family, or null for a key that is no GOST R 34.10 key.
const KeyFamily *FamilyOf(EVP_PKEY *pkey);
// True when both keys lie on the same curve.
bool SameDomain(EVP_PKEY *a, EVP_PKEY *b);

// A public key as its SubjectPublicKeyInfo holds it (RFC 4491 section 2.3): the DER
// algorithm parameters (05 00 when there are none) and the contents of the
// GostR3410-PublicKey OCTET STRING.
struct EncodedPublicKey {
    std::vector<BYTE> parameters;
    std::vector<BYTE> key;
};
bool EncodePublicKey(EVP_PKEY *pkey, EncodedPublicKey *encoded);
// The public key of the family with these parameters and key bytes; null when the engine
// does not accept them (unknown curve, point not on the curve, wrong length).
Pkey DecodePublicKey(const KeyFamily &family, std::span<const BYTE> parameters,
                     std::span<const BYTE> key);

// VKO GOST R 34.10-2001 (RFC 4357 section 5.2) or VKO GOST R 34.10-2012 with a 256-bit
// digest (RFC 7836 section 4.3) of our private key, the peer's public key and the UKM.
bool DeriveVko(EVP_PKEY *own, EVP_PKEY *peer, std::span<const BYTE, 8> ukm, Gost28147Key *kek);

bool RandomBytes(std::span<BYTE> out);

} // namespace kvcsp

// The GOST 28147-89 block cipher (GOST 28147-89, RFC 5830) with the parameter sets of
// RFC 4357 and RFC 7836: single-block encryption and decryption and the 16-round MAC
// step. The modes built on them by the GOST engine (CFB with key meshing) are taken from
// the engine; the key wrap needs the plain block operations, which the engine does not
// offer through its public interface.
#pragma once

#include "gostcsp.h"

#include <openssl/crypto.h>

#include <array>
#include <span>
#include <string_view>

namespace kvcsp {

using Gost28147Key = std::array<BYTE, 32>;
using Gost28147Block = std::array<BYTE, 8>;

// Key material held in a local: wiped when it goes out of scope, on every path.
template <typename Bytes> struct Wiped : Bytes {
    using Bytes::operator=;
    ~Wiped() { OPENSSL_cleanse(this->data(), this->size()); }
};

// A parameter set as RFC 4357 section 11.2 publishes it: Gost28147-89-ParamSetParameters
// eUZ, the 64-byte packed S-box (row i holds K1[i]..K8[i], two 4-bit entries a byte).
struct Gost28147ParamSet {
    const char *oid;
    std::array<BYTE, 64> eUZ;
};

// The parameter set with this dotted OID, or null.
const Gost28147ParamSet *FindGost28147ParamSet(std::string_view oid);
const Gost28147ParamSet &DefaultGost28147ParamSet(); // 1.2.643.2.2.31.1 (Kelvarine A)
std::span<const Gost28147ParamSet> AllGost28147ParamSets();

// S-box substitution K1..K8 of a parameter set (index 0 is K1), each entry 0..15.
std::array<std::array<BYTE, 16>, 8> UnpackSbox(const Gost28147ParamSet &paramSet);

// A key schedule: the eight key words and the S-box merged with the 11-bit rotation.
// Its destructor wipes the key.
struct Gost28147 {
    Gost28147(const Gost28147ParamSet &paramSet, std::span<const BYTE, 32> key);
    ~Gost28147();
    Gost28147(const Gost28147 &) = delete;
    Gost28147 &operator=(const Gost28147 &) = delete;

    std::array<uint32_t, 8> keyWords;
    std::array<std::array<uint32_t, 256>, 4> substitution;
};

// 32-round encryption and decryption of one block (GOST 28147-89, 6.1 and 6.2).
Gost28147Block Gost28147Encrypt(const Gost28147 &cipher, std::span<const BYTE, 8> in);
Gost28147Block Gost28147Decrypt(const Gost28147 &cipher, std::span<const BYTE, 8> in);

// The MAC (GOST 28147-89 section 5, "imitovstavka") over whole 8-byte blocks with the
// initial state `iv` (zero for the plain MAC; the UKM in RFC 4357 key wraps); the first
// four bytes of the final state. `data` holds two or more whole blocks.
std::array<BYTE, 4> Gost28147Mac(const Gost28147 &cipher, std::span<const BYTE, 8> iv,
                                 std::span<const BYTE> data);

} // namespace kvcsp

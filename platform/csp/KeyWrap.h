// GOST 28147-89 key wrap of RFC 4357 section 6: a 256-bit key encrypted in ECB mode under a
// key-encryption key, with a 32-bit MAC whose initial state is the UKM; optionally under a
// KEK diversified by the UKM first (the Kelvarine key wrap, section 6.3).
#pragma once

#include "Gost28147.h"

namespace kvcsp {

struct WrappedKey {
    std::array<BYTE, 32> encryptedKey;
    std::array<BYTE, 4> mac;
};

// Kelvarine KEK diversification, RFC 4357 section 6.5.
bool DiversifyKek(const Gost28147ParamSet &paramSet, const Gost28147Key &kek,
                  std::span<const BYTE, 8> ukm, Gost28147Key *diversified);

// wrapAlgId: ALG_GOST_KEY_WRAP_DIVERS (RFC 4357 section 6.3) or ALG_GOST_KEY_WRAP_SIMPLE
// (section 6.1). Returns ERROR_SUCCESS or a provider error code.
DWORD WrapGost28147Key(ALG_ID wrapAlgId, const Gost28147ParamSet &paramSet, const Gost28147Key &kek,
                       std::span<const BYTE, 8> ukm, const Gost28147Key &cek, WrappedKey *wrapped);
// Sections 6.2 and 6.4; NTE_BAD_DATA when the MAC does not match.
DWORD UnwrapGost28147Key(ALG_ID wrapAlgId, const Gost28147ParamSet &paramSet,
                         const Gost28147Key &kek, std::span<const BYTE, 8> ukm,
                         const WrappedKey &wrapped, Gost28147Key *cek);

} // namespace kvcsp

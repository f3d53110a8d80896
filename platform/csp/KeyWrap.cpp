#include "KeyWrap.h"

#include "Engine.h"

namespace kvcsp {
namespace {

uint32_t KeyWord(const Gost28147Key &key, size_t index)
{
    const BYTE *bytes = key.data() + 4 * index;
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

// S[i] = (sum of the key words K[j] with bit j of ukm[i] set) || (sum of the others),
// both modulo 2^32, little-endian.
Gost28147Block DiversificationIv(const Gost28147Key &key, BYTE ukmByte)
{
    uint32_t selected = 0, others = 0;
    for (size_t j = 0; j < 8; ++j)
        (ukmByte >> j & 1 ? selected : others) += KeyWord(key, j);
    Gost28147Block iv{};
    for (size_t i = 0; i < 4; ++i) {
        iv[i] = static_cast<BYTE>(selected >> (8 * i));
        iv[4 + i] = static_cast<BYTE>(others >> (8 * i));
    }
    return iv;
}

// The key under which the wrap encrypts and MACs: the KEK itself or its diversification.
DWORD WrappingKey(ALG_ID wrapAlgId, const Gost28147ParamSet &paramSet, const Gost28147Key &kek,
                  std::span<const BYTE, 8> ukm, Gost28147Key *key)
{
    if (wrapAlgId == ALG_GOST_KEY_WRAP_SIMPLE) {
        *key = kek;
        return ERROR_SUCCESS;
    }
    if (wrapAlgId != ALG_GOST_KEY_WRAP_DIVERS) return NTE_BAD_ALGID;
    return DiversifyKek(paramSet, kek, ukm, key) ? ERROR_SUCCESS : NTE_FAIL;
}

} // namespace

// K[i+1] = encryptCFB(S[i], K[i], K[i]) for i = 0..7, K[0] = KEK; the result is K[8].
bool DiversifyKek(const Gost28147ParamSet &paramSet, const Gost28147Key &kek,
                  std::span<const BYTE, 8> ukm, Gost28147Key *diversified)
{
    *diversified = kek;
    for (const BYTE ukmByte : ukm) {
        // Sums of the key's words; the context takes a copy.
        const Wiped<Gost28147Block> iv{DiversificationIv(*diversified, ukmByte)};
        CipherCtxPtr cfb = NewGost28147Cfb(paramSet, *diversified, iv, true);
        if (!cfb || !Gost28147CfbUpdate(cfb.get(), *diversified)) {
            OPENSSL_cleanse(diversified->data(), diversified->size());
            return false;
        }
    }
    return true;
}

// CEK_ENC = ECB encryption of the CEK; CEK_MAC = gost28147IMIT(UKM, KEK, CEK).
DWORD WrapGost28147Key(ALG_ID wrapAlgId, const Gost28147ParamSet &paramSet, const Gost28147Key &kek,
                       std::span<const BYTE, 8> ukm, const Gost28147Key &cek, WrappedKey *wrapped)
{
    Wiped<Gost28147Key> key{};
    const DWORD status = WrappingKey(wrapAlgId, paramSet, kek, ukm, &key);
    if (status != ERROR_SUCCESS) return status;
    const Gost28147 cipher(paramSet, key);
    for (size_t offset = 0; offset < cek.size(); offset += 8) {
        const Gost28147Block block =
            Gost28147Encrypt(cipher, std::span<const BYTE, 8>(cek.data() + offset, 8));
        std::copy(block.begin(), block.end(), wrapped->encryptedKey.begin() + offset);
    }
    wrapped->mac = Gost28147Mac(cipher, ukm, cek);
    return ERROR_SUCCESS;
}

DWORD UnwrapGost28147Key(ALG_ID wrapAlgId, const Gost28147ParamSet &paramSet,
                         const Gost28147Key &kek, std::span<const BYTE, 8> ukm,
                         const WrappedKey &wrapped, Gost28147Key *cek)
{
    Wiped<Gost28147Key> key{};
    const DWORD status = WrappingKey(wrapAlgId, paramSet, kek, ukm, &key);
    if (status != ERROR_SUCCESS) return status;
    const Gost28147 cipher(paramSet, key);
    for (size_t offset = 0; offset < cek->size(); offset += 8) {
        const Wiped<Gost28147Block> block{Gost28147Decrypt(
            cipher, std::span<const BYTE, 8>(wrapped.encryptedKey.data() + offset, 8))};
        std::copy(block.begin(), block.end(), cek->begin() + offset);
    }
    const std::array<BYTE, 4> mac = Gost28147Mac(cipher, ukm, *cek);
    if (CRYPTO_memcmp(mac.data(), wrapped.mac.data(), mac.size()) != 0) {
        OPENSSL_cleanse(cek->data(), cek->size());
        return NTE_BAD_DATA;
    }
    return ERROR_SUCCESS;
}

} // namespace kvcsp

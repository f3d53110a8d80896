// The provider's own GOST 28147-89 pieces (block cipher, MAC, key wrap) against published
// vectors and against the GOST engine: its implementation of the same functions, and for the
// key wrap with diversification, its key transport.
#include "CspTestSupport.h"
#include "Gost28147.h"
#include "KeyWrap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

using namespace csptest;
using namespace kvcsp;

namespace {

template <size_t N> std::array<BYTE, N> FromHexArray(const std::string &hex)
{
    std::array<BYTE, N> out{};
    const Bytes bytes = FromHex(hex);
    std::copy_n(bytes.begin(), std::min(N, bytes.size()), out.begin());
    return out;
}

const Gost28147Key kKey =
    FromHexArray<32>("8182838485868788898a8b8c8d8e8f90a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
const std::array<BYTE, 8> kUkm = FromHexArray<8>("0011223344556677");
const Gost28147Key kCek =
    FromHexArray<32>("1f1e1d1c1b1a191817161514131211100f0e0d0c0b0a09080706050403020100");

// GOST R 34.12-2015 writes blocks and keys as big-endian numbers; GOST 28147-89 loads the
// same values as little-endian 32-bit words. A block is the reversed byte string; a key is
// each of its eight 32-bit words reversed.
std::array<BYTE, 8> MagmaBlock(const std::string &hex)
{
    std::array<BYTE, 8> block = FromHexArray<8>(hex);
    std::reverse(block.begin(), block.end());
    return block;
}

Bytes Joined(const WrappedKey &wrapped)
{
    return Cat({Bytes(wrapped.encryptedKey.begin(), wrapped.encryptedKey.end()),
                Bytes(wrapped.mac.begin(), wrapped.mac.end())});
}

WrappedKey Wrapped(const Bytes &encryptedKey, const Bytes &mac)
{
    WrappedKey wrapped{};
    EXPECT_TRUE(encryptedKey.size() == 32 && mac.size() == 4);
    std::copy_n(encryptedKey.begin(), std::min<size_t>(32, encryptedKey.size()),
                wrapped.encryptedKey.begin());
    std::copy_n(mac.begin(), std::min<size_t>(4, mac.size()), wrapped.mac.begin());
    return wrapped;
}

} // namespace

// Our S-boxes are unpacked from the eUZ octets RFC 4357 and RFC 7836 publish; the engine
// compiles its own tables in.
TEST(Gost28147, SboxesMatchEngine)
{
    for (const Gost28147ParamSet &paramSet : AllGost28147ParamSets()) {
        SCOPED_TRACE(paramSet.oid);
        EXPECT_EQ(EngineGost89(paramSet.oid).Sbox(), UnpackSbox(paramSet));
    }
}

// The published Magma blocks of tests/data/csp/magma.txt, both ways.
TEST(Gost28147, PublishedMagmaVectors)
{
    Gost28147Key key =
        FromHexArray<32>("ffeeddccbbaa99887766554433221100f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    for (auto word = key.begin(); word != key.end(); word += 4)
        std::reverse(word, word + 4);
    const Gost28147 cipher(*FindGost28147ParamSet(szOID_tc26_gost_28147_param_Z), key);
    for (const kvtest::FileCase &block : kvtest::ReadFileCases("csp/magma.txt")) {
        SCOPED_TRACE(block.where);
        const auto plain = MagmaBlock(block.Get("Plain")),
                   expected = MagmaBlock(block.Get("Cipher"));
        const Gost28147Block encrypted = Gost28147Encrypt(cipher, plain);
        EXPECT_EQ(ToHex(expected), ToHex(encrypted));
        EXPECT_EQ(ToHex(plain), ToHex(Gost28147Decrypt(cipher, encrypted)));
    }
}

// For every parameter set, against gost_enc, gost_dec and gost_mac_iv of the engine: ECB both
// ways, the MAC with an initial state, and the key wrap of RFC 4357 section 6.1 (ECB plus that
// MAC) with our unwrap of it.
TEST(Gost28147, BlockOperationsAndSimpleWrapMatchEngine)
{
    for (const Gost28147ParamSet &paramSet : AllGost28147ParamSets()) {
        SCOPED_TRACE(paramSet.oid);
        EngineGost89 engine(paramSet.oid);
        const Gost28147 cipher(paramSet, kKey);
        Bytes ecb;
        for (size_t offset = 0; offset < kCek.size(); offset += 8) {
            const Gost28147Block block =
                Gost28147Encrypt(cipher, std::span<const BYTE, 8>(kCek.data() + offset, 8));
            ecb.insert(ecb.end(), block.begin(), block.end());
        }
        EXPECT_EQ(ToHex(engine.EncryptEcb(kKey, kCek)), ToHex(ecb));
        EXPECT_EQ(ToHex(engine.DecryptEcb(kKey, ecb)), ToHex(kCek));
        const auto mac = engine.MacWithIv(kKey, kUkm, kCek);
        EXPECT_EQ(mac, Gost28147Mac(cipher, kUkm, kCek));

        WrappedKey wrapped{};
        ASSERT_EQ(DWORD{ERROR_SUCCESS},
                  WrapGost28147Key(ALG_GOST_KEY_WRAP_SIMPLE, paramSet, kKey, kUkm, kCek, &wrapped));
        EXPECT_EQ(ToHex(Cat({ecb, Bytes(mac.begin(), mac.end())})), ToHex(Joined(wrapped)));
        Gost28147Key unwrapped{};
        EXPECT_EQ(DWORD{ERROR_SUCCESS}, UnwrapGost28147Key(ALG_GOST_KEY_WRAP_SIMPLE, paramSet, kKey,
                                                           kUkm, wrapped, &unwrapped));
        EXPECT_EQ(kCek, unwrapped);
    }
}

// RFC 4357 section 6.3 against the engine's key transport (RFC 4490). Sent from a static key
// pair with a fixed UKM, the engine's wrap is reproducible: under the engine's VKO of the same
// two keys ours is the same octets, and ours unwraps the engine's. The engine sends with the
// S-box 1.2.643.2.2.31.1 for 2001 keys and 1.2.643.7.1.2.5.1.1 for 2012 keys only; the other
// S-boxes are checked by the engine opening our wrap (next test).
TEST(Gost28147KeyWrap, DiversifiedWrapMatchesEngineTransport)
{
    static const struct {
        const char *recipient, *sender, *paramSet;
    } kCases[] = {
        {"gost2001-A-1", "gost2001-A-2", szOID_Gost28147_89_Kelvarine_A_ParamSet},
        {"gost2012_256-TCA-1", "gost2012_256-TCA-2", szOID_tc26_gost_28147_param_Z},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.recipient);
        const PkeyPtr recipient = ReadPrivateKey(c.recipient), sender = ReadPrivateKey(c.sender);
        const KeyTransport transport =
            ParseKeyTransport(EngineSendKey(recipient.get(), sender.get(), kUkm, kCek));
        ASSERT_EQ(c.paramSet, transport.paramSet);
        ASSERT_EQ(ToHex(kUkm), ToHex(transport.ukm));
        const Gost28147Key kek = EngineVko(sender.get(), recipient.get(), kUkm);
        const Gost28147ParamSet &paramSet = *FindGost28147ParamSet(c.paramSet);
        WrappedKey ours{};
        ASSERT_EQ(DWORD{ERROR_SUCCESS},
                  WrapGost28147Key(ALG_GOST_KEY_WRAP_DIVERS, paramSet, kek, kUkm, kCek, &ours));
        EXPECT_EQ(ToHex(Cat({transport.encryptedKey, transport.mac})), ToHex(Joined(ours)));
        Gost28147Key unwrapped{};
        EXPECT_EQ(DWORD{ERROR_SUCCESS},
                  UnwrapGost28147Key(ALG_GOST_KEY_WRAP_DIVERS, paramSet, kek, kUkm,
                                     Wrapped(transport.encryptedKey, transport.mac), &unwrapped));
        EXPECT_EQ(kCek, unwrapped);
    }
}

// For every S-box, the engine as key-transport recipient opens our diversified wrap: it takes
// the S-box from the transport, derives the VKO with the sender's public key, unwraps and
// checks the MAC; with one MAC bit changed it refuses.
TEST(Gost28147KeyWrap, DiversifiedWrapOpensInEngine)
{
    const PkeyPtr recipient = ReadPrivateKey("gost2001-A-1"),
                  sender = ReadPrivateKey("gost2001-A-2");
    const Gost28147Key kek = EngineVko(sender.get(), recipient.get(), kUkm);
    for (const Gost28147ParamSet &paramSet : AllGost28147ParamSets()) {
        SCOPED_TRACE(paramSet.oid);
        WrappedKey ours{};
        ASSERT_EQ(DWORD{ERROR_SUCCESS},
                  WrapGost28147Key(ALG_GOST_KEY_WRAP_DIVERS, paramSet, kek, kUkm, kCek, &ours));
        KeyTransport transport{Bytes(ours.encryptedKey.begin(), ours.encryptedKey.end()),
                               Bytes(ours.mac.begin(), ours.mac.end()), paramSet.oid,
                               SpkiOf(sender.get()), Bytes(kUkm.begin(), kUkm.end())};
        EXPECT_EQ(std::optional(kCek),
                  EngineReceiveKey(recipient.get(), KeyTransportDer(transport)));
        transport.mac[0] ^= 0x01;
        EXPECT_EQ(std::nullopt, EngineReceiveKey(recipient.get(), KeyTransportDer(transport)));
    }
}

// A change to any byte of the encrypted key, the MAC or the UKM fails the unwrap, and the
// output holds no key.
TEST(Gost28147KeyWrap, CorruptionFailsMac)
{
    const Gost28147ParamSet &paramSet = DefaultGost28147ParamSet();
    for (ALG_ID wrapAlgId : {ALG_GOST_KEY_WRAP_DIVERS, ALG_GOST_KEY_WRAP_SIMPLE}) {
        WrappedKey good{};
        ASSERT_EQ(DWORD{ERROR_SUCCESS},
                  WrapGost28147Key(wrapAlgId, paramSet, kKey, kUkm, kCek, &good));
        for (size_t at : {size_t{0}, size_t{31}, size_t{32}, size_t{35}, size_t{36}, size_t{43}}) {
            SCOPED_TRACE(testing::Message() << std::hex << wrapAlgId << " byte " << std::dec << at);
            WrappedKey wrapped = good;
            std::array<BYTE, 8> ukm = kUkm;
            if (at < 32)
                wrapped.encryptedKey[at] ^= 0x01;
            else if (at < 36)
                wrapped.mac[at - 32] ^= 0x80;
            else
                ukm[at - 36] ^= 0x10;
            Gost28147Key unwrapped{};
            unwrapped.fill(0xA5);
            EXPECT_EQ(DWORD{NTE_BAD_DATA},
                      UnwrapGost28147Key(wrapAlgId, paramSet, kKey, ukm, wrapped, &unwrapped));
            EXPECT_EQ(Gost28147Key{}, unwrapped);
        }
    }
}

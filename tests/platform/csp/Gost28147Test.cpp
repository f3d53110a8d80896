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

const Bytes kKey = FromHex("8182838485868788898a8b8c8d8e8f90a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
const Bytes kUkm = FromHex("0011223344556677");
const Bytes kCek = FromHex("1f1e1d1c1b1a191817161514131211100f0e0d0c0b0a09080706050403020100");

std::span<const BYTE, 32> Key32(const Bytes &b)
{
    return std::span<const BYTE, 32>(b.data(), 32);
}
std::span<const BYTE, 8> Block8(const Bytes &b)
{
    return std::span<const BYTE, 8>(b.data(), 8);
}

// GOST R 34.12-2015 writes blocks and keys as big-endian numbers; GOST 28147-89 loads the
// same values as little-endian 32-bit words. A block is the reversed byte string; a key is
// each of its eight 32-bit words reversed.
Bytes MagmaBlock(const std::string &hex)
{
    Bytes block = FromHex(hex);
    std::reverse(block.begin(), block.end());
    return block;
}
Bytes MagmaKey(const std::string &hex)
{
    Bytes key = FromHex(hex);
    for (auto word = key.begin(); word != key.end(); word += 4)
        std::reverse(word, word + 4);
    return key;
}

Bytes Joined(const WrappedKey &wrapped)
{
    return Cat({Bytes(wrapped.encryptedKey.begin(), wrapped.encryptedKey.end()),
                Bytes(wrapped.mac.begin(), wrapped.mac.end())});
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

// GOST R 34.12-2015 appendix A.2 (one block) and GOST R 34.13-2015 appendix A.2.1 (ECB), both
// with the S-box of id-tc26-gost-28147-param-Z.
TEST(Gost28147, PublishedMagmaVectors)
{
    const Bytes key = MagmaKey("ffeeddccbbaa99887766554433221100f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    const Gost28147 cipher(*FindGost28147ParamSet(szOID_tc26_gost_28147_param_Z), Key32(key));
    static const struct {
        const char *plain, *cipher;
    } kBlocks[] = {{"fedcba9876543210", "4ee901e5c2d8ca3d"},
                   {"92def06b3c130a59", "2b073f0494f372a0"},
                   {"db54c704f8189d20", "de70e715d3556e48"},
                   {"4a98fb2e67a8024c", "11d8d9e9eacfbc1e"},
                   {"8912409b17b57e41", "7c68260996c67efb"}};
    for (const auto &block : kBlocks) {
        SCOPED_TRACE(block.plain);
        const Bytes plain = MagmaBlock(block.plain), expected = MagmaBlock(block.cipher);
        const Gost28147Block encrypted = Gost28147Encrypt(cipher, Block8(plain));
        EXPECT_EQ(ToHex(expected), ToHex(encrypted));
        const Gost28147Block decrypted = Gost28147Decrypt(cipher, encrypted);
        EXPECT_EQ(ToHex(plain), ToHex(decrypted));
    }
}

// ECB both ways and the MAC with an initial state, for every parameter set, against gost_enc,
// gost_dec and gost_mac_iv of the engine.
TEST(Gost28147, BlockOperationsMatchEngine)
{
    for (const Gost28147ParamSet &paramSet : AllGost28147ParamSets()) {
        SCOPED_TRACE(paramSet.oid);
        EngineGost89 engine(paramSet.oid);
        const Gost28147 cipher(paramSet, Key32(kKey));
        Bytes ecb;
        for (size_t offset = 0; offset < kCek.size(); offset += 8) {
            const Gost28147Block block =
                Gost28147Encrypt(cipher, std::span<const BYTE, 8>(kCek.data() + offset, 8));
            ecb.insert(ecb.end(), block.begin(), block.end());
        }
        EXPECT_EQ(ToHex(engine.EncryptEcb(Key32(kKey), kCek)), ToHex(ecb));
        EXPECT_EQ(ToHex(engine.DecryptEcb(Key32(kKey), ecb)), ToHex(kCek));
        EXPECT_EQ(engine.MacWithIv(Key32(kKey), Block8(kUkm), kCek),
                  Gost28147Mac(cipher, Block8(kUkm), kCek));
    }
}

// RFC 4357 section 6.1 against the engine's ECB plus gost_mac_iv, for every S-box, and our
// unwrap of it.
TEST(Gost28147KeyWrap, SimpleWrapMatchesEngine)
{
    Gost28147Key kek{}, cek{};
    std::copy(kKey.begin(), kKey.end(), kek.begin());
    std::copy(kCek.begin(), kCek.end(), cek.begin());
    for (const Gost28147ParamSet &paramSet : AllGost28147ParamSets()) {
        SCOPED_TRACE(paramSet.oid);
        EngineGost89 engine(paramSet.oid);
        const auto mac = engine.MacWithIv(kek, Block8(kUkm), kCek);
        const Bytes expected = Cat({engine.EncryptEcb(kek, kCek), Bytes(mac.begin(), mac.end())});
        WrappedKey wrapped{};
        ASSERT_EQ(DWORD{ERROR_SUCCESS}, WrapGost28147Key(ALG_GOST_KEY_WRAP_SIMPLE, paramSet, kek,
                                                         Block8(kUkm), cek, &wrapped));
        EXPECT_EQ(ToHex(expected), ToHex(Joined(wrapped)));
        Gost28147Key unwrapped{};
        EXPECT_EQ(DWORD{ERROR_SUCCESS}, UnwrapGost28147Key(ALG_GOST_KEY_WRAP_SIMPLE, paramSet, kek,
                                                           Block8(kUkm), wrapped, &unwrapped));
        EXPECT_EQ(cek, unwrapped);
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
    Gost28147Key cek{};
    std::copy(kCek.begin(), kCek.end(), cek.begin());
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.recipient);
        const PkeyPtr recipient = ReadPrivateKey(c.recipient), sender = ReadPrivateKey(c.sender);
        const KeyTransport transport =
            ParseKeyTransport(EngineSendKey(recipient.get(), sender.get(), kUkm, cek));
        ASSERT_EQ(c.paramSet, transport.paramSet);
        ASSERT_EQ(ToHex(kUkm), ToHex(transport.ukm));
        const Gost28147Key kek = EngineVko(sender.get(), recipient.get(), Block8(kUkm));
        const Gost28147ParamSet &paramSet = *FindGost28147ParamSet(c.paramSet);
        WrappedKey ours{};
        ASSERT_EQ(DWORD{ERROR_SUCCESS}, WrapGost28147Key(ALG_GOST_KEY_WRAP_DIVERS, paramSet, kek,
                                                         Block8(kUkm), cek, &ours));
        EXPECT_EQ(ToHex(Cat({transport.encryptedKey, transport.mac})), ToHex(Joined(ours)));
        WrappedKey engines{};
        ASSERT_EQ(sizeof engines.encryptedKey + sizeof engines.mac,
                  transport.encryptedKey.size() + transport.mac.size());
        std::copy(transport.encryptedKey.begin(), transport.encryptedKey.end(),
                  engines.encryptedKey.begin());
        std::copy(transport.mac.begin(), transport.mac.end(), engines.mac.begin());
        Gost28147Key unwrapped{};
        EXPECT_EQ(DWORD{ERROR_SUCCESS}, UnwrapGost28147Key(ALG_GOST_KEY_WRAP_DIVERS, paramSet, kek,
                                                           Block8(kUkm), engines, &unwrapped));
        EXPECT_EQ(cek, unwrapped);
    }
}

// For every S-box, the engine as key-transport recipient opens our diversified wrap: it takes
// the S-box from the transport, derives the VKO with the sender's public key, unwraps and
// checks the MAC; with one MAC bit changed it refuses.
TEST(Gost28147KeyWrap, DiversifiedWrapOpensInEngine)
{
    const PkeyPtr recipient = ReadPrivateKey("gost2001-A-1"),
                  sender = ReadPrivateKey("gost2001-A-2");
    const Gost28147Key kek = EngineVko(sender.get(), recipient.get(), Block8(kUkm));
    Gost28147Key cek{};
    std::copy(kCek.begin(), kCek.end(), cek.begin());
    for (const Gost28147ParamSet &paramSet : AllGost28147ParamSets()) {
        SCOPED_TRACE(paramSet.oid);
        WrappedKey ours{};
        ASSERT_EQ(DWORD{ERROR_SUCCESS}, WrapGost28147Key(ALG_GOST_KEY_WRAP_DIVERS, paramSet, kek,
                                                         Block8(kUkm), cek, &ours));
        KeyTransport transport{Bytes(ours.encryptedKey.begin(), ours.encryptedKey.end()),
                               Bytes(ours.mac.begin(), ours.mac.end()), paramSet.oid,
                               SpkiOf(sender.get()), kUkm};
        EXPECT_EQ(std::optional(cek),
                  EngineReceiveKey(recipient.get(), KeyTransportDer(transport)));
        transport.mac[0] ^= 0x01;
        EXPECT_EQ(std::nullopt, EngineReceiveKey(recipient.get(), KeyTransportDer(transport)));
    }
}

// A change to any byte of the encrypted key, the MAC or the UKM fails the unwrap, and the
// output holds no key.
TEST(Gost28147KeyWrap, CorruptionFailsMac)
{
    Gost28147Key kek{}, cek{};
    std::copy(kKey.begin(), kKey.end(), kek.begin());
    std::copy(kCek.begin(), kCek.end(), cek.begin());
    const Gost28147ParamSet &paramSet = DefaultGost28147ParamSet();
    for (ALG_ID wrapAlgId : {ALG_GOST_KEY_WRAP_DIVERS, ALG_GOST_KEY_WRAP_SIMPLE}) {
        WrappedKey good{};
        ASSERT_EQ(DWORD{ERROR_SUCCESS},
                  WrapGost28147Key(wrapAlgId, paramSet, kek, Block8(kUkm), cek, &good));
        for (size_t at : {size_t{0}, size_t{31}, size_t{32}, size_t{35}, size_t{36}, size_t{43}}) {
            SCOPED_TRACE(testing::Message() << std::hex << wrapAlgId << " byte " << std::dec << at);
            WrappedKey wrapped = good;
            Bytes ukm = kUkm;
            if (at < 32)
                wrapped.encryptedKey[at] ^= 0x01;
            else if (at < 36)
                wrapped.mac[at - 32] ^= 0x80;
            else
                ukm[at - 36] ^= 0x10;
            Gost28147Key unwrapped{};
            unwrapped.fill(0xA5);
            EXPECT_EQ(DWORD{NTE_BAD_DATA}, UnwrapGost28147Key(wrapAlgId, paramSet, kek, Block8(ukm),
                                                              wrapped, &unwrapped));
            EXPECT_TRUE(
                std::all_of(unwrapped.begin(), unwrapped.end(), [](BYTE b) { return b == 0; }));
        }
    }
}

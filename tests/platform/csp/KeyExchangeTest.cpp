// Key agreement and SIMPLEBLOBs: the VKO key the provider derives, its key wrap and MAC, all
// checked with the GOST engine on the other side (for the wrap with diversification, through
// its key transport of RFC 4490).
#include "CspTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace csptest;

namespace {

struct AgreementCase {
    const char *name;
    const char *ours, *peer; // key files: our container, the peer's key pair
    ALG_ID wrapAlgId;
    const char *wrapParamSet, *contentParamSet;
};

const AgreementCase kAgreements[] = {
    {"2001 divers", "gost2001-A-1", "gost2001-A-2", ALG_GOST_KEY_WRAP_DIVERS,
     szOID_Gost28147_89_Kelvarine_A_ParamSet, szOID_Gost28147_89_Kelvarine_A_ParamSet},
    {"2001 XA simple", "gost2001-XA-2", "gost2001-XA-1", ALG_GOST_KEY_WRAP_SIMPLE,
     szOID_Gost28147_89_Kelvarine_B_ParamSet, szOID_Gost28147_89_Kelvarine_C_ParamSet},
    {"2012-256 divers", "gost2012_256-A-1", "gost2012_256-A-2", ALG_GOST_KEY_WRAP_DIVERS,
     szOID_tc26_gost_28147_param_Z, szOID_Gost28147_89_Kelvarine_A_ParamSet},
    {"2012-256 TC26 simple", "gost2012_256-TCA-1", "gost2012_256-TCA-2", ALG_GOST_KEY_WRAP_SIMPLE,
     szOID_Gost28147_89_Kelvarine_A_ParamSet, szOID_tc26_gost_28147_param_Z},
    {"2012-512 divers", "gost2012_512-A-2", "gost2012_512-A-1", ALG_GOST_KEY_WRAP_DIVERS,
     szOID_Gost28147_89_Kelvarine_D_ParamSet, szOID_Gost28147_89_Kelvarine_B_ParamSet},
    {"2012-512 C simple", "gost2012_512-C-1", "gost2012_512-C-2", ALG_GOST_KEY_WRAP_SIMPLE,
     szOID_tc26_gost_28147_param_Z, szOID_tc26_gost_28147_param_Z},
};

const Bytes kMessage = FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"
                               "2021222324252627282930313233343536373839");

std::span<const unsigned char> Ukm(const Bytes &blob)
{
    return std::span(blob).subspan(offsetof(GOST_SIMPLEBLOB, bUkm), 8);
}

// Our container's key with the peer's public key, and the wrap set on the agreement key.
void Agree(const AgreementCase &c, ProvHandle *prov, KeyHandle *user, KeyHandle *agreement)
{
    OpenAgreement(c.ours, PublicKeyBlobOf(c.peer), prov, user, agreement);
    EXPECT_EQ(DWORD{ALG_GOST_KEY_WRAP_DIVERS}, GetDwordParam(agreement->h, KP_ALGID));
    ASSERT_TRUE(SetParam(agreement->h, KP_ALGID, &c.wrapAlgId));
    ASSERT_TRUE(SetParam(agreement->h, KP_GOST_CIPHER_PARAMSET, c.wrapParamSet));
}

// The provider's CFB with a content key gives the engine's under the key `cek` (and the IV the
// key reports).
void ExpectEngineCfb(HCRYPTKEY hKey, const char *paramSet, std::span<const unsigned char> cek)
{
    const Bytes iv = GetBytesParam(hKey, KP_IV);
    EXPECT_EQ(ToHex(EngineGost89(paramSet).EncryptCfb(cek, iv, kMessage)),
              ToHex(Encrypt(hKey, kMessage)));
}

// The content key inside a SIMPLEBLOB, unwrapped by the engine under the VKO the engine derives
// for the peer's private key and our public key with the blob's UKM. The diversified wrap is
// opened by the engine's key transport: the blob's pieces become a GostR3410-KeyTransport that
// names the wrap's S-box and carries our public key as its "ephemeral" key.
std::array<unsigned char, 32> EngineUnwrap(ALG_ID wrapAlgId, const char *wrapParamSet,
                                           const Bytes &blob, EVP_PKEY *ourPublic,
                                           EVP_PKEY *peerPrivate)
{
    const auto wrapped = std::span(blob).subspan(offsetof(GOST_SIMPLEBLOB, bEncryptedKey), 36);
    if (wrapAlgId == ALG_GOST_KEY_WRAP_DIVERS) {
        const KeyTransport transport{Bytes(wrapped.begin(), wrapped.begin() + 32),
                                     Bytes(wrapped.begin() + 32, wrapped.end()), wrapParamSet,
                                     SpkiOf(ourPublic), Bytes(Ukm(blob).begin(), Ukm(blob).end())};
        const auto cek = EngineReceiveKey(peerPrivate, KeyTransportDer(transport));
        EXPECT_TRUE(cek.has_value());
        return cek.value_or(std::array<unsigned char, 32>{});
    }
    const auto kek = EngineVko(peerPrivate, ourPublic, Ukm(blob));
    EngineGost89 engine(wrapParamSet);
    std::array<unsigned char, 32> cek{};
    const Bytes plain = engine.DecryptEcb(kek, wrapped.first(32));
    std::memcpy(cek.data(), plain.data(), cek.size());
    EXPECT_EQ(ToHex(wrapped.subspan(32, 4)), ToHex(engine.MacWithIv(kek, Ukm(blob), cek)));
    return cek;
}

// The key wrap of a SIMPLEBLOB the engine makes for our container from the peer's key pair:
// for the diversified wrap, the wrapped key, MAC and UKM of the engine's key transport, sent
// from the peer's (static) key pair, and the S-box that transport names; for the simple wrap,
// ECB and the MAC.
struct EngineWrap {
    Bytes encryptedKeyAndMac;
    std::string paramSet;
};

EngineWrap EngineWrapFor(const AgreementCase &c, const Bytes &ukm, const Bytes &cek)
{
    if (c.wrapAlgId == ALG_GOST_KEY_WRAP_DIVERS) {
        const KeyTransport transport = ParseKeyTransport(
            EngineSendKey(ReadPrivateKey(c.ours).get(), ReadPrivateKey(c.peer).get(), ukm, cek));
        EXPECT_TRUE(transport.ephemeralSpki.empty()); // the sender's key is the peer's own
        EXPECT_EQ(ToHex(ukm), ToHex(transport.ukm));
        return {Cat({transport.encryptedKey, transport.mac}), transport.paramSet};
    }
    const auto kek = EngineVko(ReadPrivateKey(c.peer).get(), ReadPrivateKey(c.ours).get(), ukm);
    EngineGost89 engine(c.wrapParamSet);
    const auto mac = engine.MacWithIv(kek, ukm, cek);
    return {Cat({engine.EncryptEcb(kek, cek), Bytes(mac.begin(), mac.end())}), c.wrapParamSet};
}

} // namespace

// SIMPLEBLOB export: its layout, and a content key the engine unwraps (so its VKO, key wrap
// and MAC agree with ours) and with which the engine's CFB gives our ciphertext. SIMPLEBLOB
// import of a key the engine wrapped: the content key works as the engine's key.
TEST(CspKeyExchange, SimpleBlobsAgreeWithEngine)
{
    const Bytes cek = FromHex("5c2d8ca34ee901e5c2d8ca3d4ee901e5fedcba9876543210f0f1f2f3f4f5f6f7");
    const Bytes ukm = FromHex("0102030405060708");
    for (const AgreementCase &c : kAgreements) {
        SCOPED_TRACE(c.name);
        ProvHandle prov;
        KeyHandle user, agreement, session, imported;
        Agree(c, &prov, &user, &agreement);
        ASSERT_TRUE(CryptGenKey(prov.h, ALG_GOST_28147, CRYPT_EXPORTABLE, &session.h));
        ASSERT_TRUE(SetParam(session.h, KP_GOST_CIPHER_PARAMSET, c.contentParamSet));
        const Bytes blob = ExportBlob(session.h, agreement.h, SIMPLEBLOB);
        const Bytes parameters = BlobParameters(c.contentParamSet);
        ASSERT_EQ(sizeof(GOST_SIMPLEBLOB) + parameters.size(), blob.size());
        EXPECT_EQ("01200000"
                  "1e660000"
                  "fd514a37"
                  "1e660000",
                  ToHex(std::span(blob).first(16)));
        EXPECT_EQ(ToHex(parameters), ToHex(std::span(blob).subspan(sizeof(GOST_SIMPLEBLOB))));
        ExpectEngineCfb(session.h, c.contentParamSet,
                        EngineUnwrap(c.wrapAlgId, c.wrapParamSet, blob,
                                     ReadPrivateKey(c.ours).get(), ReadPrivateKey(c.peer).get()));
        // Each export draws a new UKM.
        EXPECT_NE(ToHex(Ukm(blob)), ToHex(Ukm(ExportBlob(session.h, agreement.h, SIMPLEBLOB))));

        const EngineWrap wrap = EngineWrapFor(c, ukm, cek);
        // The engine's key transport picks its S-box itself (see EngineSendKey); the other
        // S-boxes of the diversified wrap are opened by the engine above.
        ASSERT_TRUE(SetParam(agreement.h, KP_GOST_CIPHER_PARAMSET, wrap.paramSet.c_str()));
        const Bytes &wrapped = wrap.encryptedKeyAndMac;
        ASSERT_TRUE(ImportBlob(prov.h,
                               SimpleBlob(ukm, std::span(wrapped).first(32),
                                          std::span(wrapped).last(4), c.contentParamSet),
                               agreement.h, &imported.h))
            << std::hex << GetLastError();
        EXPECT_EQ(c.contentParamSet, GetTextParam(imported.h, KP_GOST_CIPHER_PARAMSET));
        ExpectEngineCfb(imported.h, c.contentParamSet, cek);
        // Imported without CRYPT_EXPORTABLE, the key stays inside.
        DWORD cb = 0;
        EXPECT_FALSE(CryptExportKey(imported.h, agreement.h, SIMPLEBLOB, 0, nullptr, &cb));
        EXPECT_EQ(DWORD{NTE_BAD_KEY_STATE}, GetLastError());
    }
}

// An ephemeral key made with CRYPT_PREGEN takes the recipient's curve, is completed by KP_X,
// and agrees with the recipient both in the engine and in the provider's own import.
TEST(CspKeyExchange, EphemeralKeyAgreesWithRecipient)
{
    static const struct {
        const char *recipient;
        ALG_ID ephemeralAlgId;
        const char *keyOid, *paramSet, *digestParamSet;
    } kCases[] = {
        {"gost2001-XA-1", ALG_GOST_DH_2001_EPHEM, "1.2.643.2.2.19", "1.2.643.2.2.36.0",
         "1.2.643.2.2.30.1"},
        {"gost2012_256-TCA-2", ALG_GOST_DH_2012_256_EPHEM, "1.2.643.7.1.1.1.1",
         "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.1.2.2"},
        {"gost2012_512-C-2", ALG_GOST_DH_2012_512_EPHEM, "1.2.643.7.1.1.1.2", "1.2.643.7.1.2.1.2.3",
         "1.2.643.7.1.1.2.3"},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.recipient);
        ProvHandle sender;
        AcquireVerify(&sender);
        KeyHandle ephemeral, agreement, content;
        ASSERT_TRUE(
            CryptGenKey(sender.h, c.ephemeralAlgId, CRYPT_EXPORTABLE | CRYPT_PREGEN, &ephemeral.h));
        DWORD cb = 0;
        EXPECT_FALSE(CryptExportKey(ephemeral.h, 0, PUBLICKEYBLOBEX, 0, nullptr, &cb));
        EXPECT_EQ(DWORD{NTE_BAD_KEY_STATE}, GetLastError());
        ASSERT_TRUE(SetParam(ephemeral.h, KP_GOST_PUBKEY_PARAMSET, c.paramSet));
        ASSERT_TRUE(SetParam(ephemeral.h, KP_GOST_HASH_PARAMSET, c.digestParamSet));
        ASSERT_TRUE(CryptSetKeyParam(ephemeral.h, KP_X, nullptr, 0)) << std::hex << GetLastError();
        EXPECT_EQ(c.paramSet, GetTextParam(ephemeral.h, KP_GOST_PUBKEY_PARAMSET));
        EXPECT_EQ(c.ephemeralAlgId, GetDwordParam(ephemeral.h, KP_ALGID));
        const Bytes ephemeralBlob = ExportBlob(ephemeral.h, 0, PUBLICKEYBLOBEX);
        ASSERT_TRUE(ImportBlob(sender.h, PublicKeyBlobOf(c.recipient), ephemeral.h, &agreement.h))
            << std::hex << GetLastError();
        ASSERT_TRUE(CryptGenKey(sender.h, ALG_GOST_28147, CRYPT_EXPORTABLE, &content.h));
        const Bytes simpleBlob = ExportBlob(content.h, agreement.h, SIMPLEBLOB);

        // The engine, as recipient, opens the blob with the ephemeral public key.
        const auto cek = EngineUnwrap(
            ALG_GOST_KEY_WRAP_DIVERS, szOID_Gost28147_89_Kelvarine_A_ParamSet, simpleBlob,
            PublicKeyFromBlob(ephemeralBlob, c.keyOid).get(), ReadPrivateKey(c.recipient).get());
        ExpectEngineCfb(content.h, szOID_Gost28147_89_Kelvarine_A_ParamSet, cek);

        // The provider, as recipient, does the same from its container.
        ProvHandle recipient;
        KeyHandle user, recipientAgreement, imported;
        OpenAgreement(c.recipient, ephemeralBlob, &recipient, &user, &recipientAgreement);
        ASSERT_TRUE(ImportBlob(recipient.h, simpleBlob, recipientAgreement.h, &imported.h))
            << std::hex << GetLastError();
        const Bytes iv = GetBytesParam(content.h, KP_IV);
        ASSERT_TRUE(CryptSetKeyParam(imported.h, KP_IV, iv.data(), 0));
        ExpectEngineCfb(imported.h, szOID_Gost28147_89_Kelvarine_A_ParamSet, cek);
    }
}

// The engine's key transport (RFC 4490) to a container's key: the engine makes an ephemeral key
// pair, derives the VKO with the recipient's public key under a UKM it draws, and wraps a known
// content key with diversification. The provider, given the transport's ephemeral public key
// for its container's key and a SIMPLEBLOB of the transport's wrapped key, MAC and UKM, comes
// out with the same content key (the engine's CFB under it gives the provider's ciphertext).
TEST(CspKeyExchange, EngineKeyTransportOpensInProvider)
{
    static const struct {
        const char *recipient;
        ALG_ID signAlgId;
    } kRecipients[] = {
        {"gost2001-A-1", ALG_GOST_SIGN_2001},
        {"gost2001-XA-2", ALG_GOST_SIGN_2001},
        {"gost2012_256-TCA-1", ALG_GOST_SIGN_2012_256},
        {"gost2012_512-C-2", ALG_GOST_SIGN_2012_512},
    };
    const Bytes cek = FromHex("3d4e5f60718293a4b5c6d7e8f90a1b2c1122334455667788f0e1d2c3b4a59687");
    for (const auto &r : kRecipients) {
        SCOPED_TRACE(r.recipient);
        const KeyTransport transport =
            ParseKeyTransport(EngineSendKey(ReadPrivateKey(r.recipient).get(), nullptr, {}, cek));
        ASSERT_FALSE(transport.ephemeralSpki.empty());
        ProvHandle prov;
        KeyHandle user, agreement, session;
        OpenAgreement(r.recipient, PublicKeyBlob(r.signAlgId, SplitSpki(transport.ephemeralSpki)),
                      &prov, &user, &agreement);
        EXPECT_EQ(DWORD{ALG_GOST_KEY_WRAP_DIVERS}, GetDwordParam(agreement.h, KP_ALGID));
        ASSERT_TRUE(SetParam(agreement.h, KP_GOST_CIPHER_PARAMSET, transport.paramSet.c_str()));
        const Bytes blob = SimpleBlob(transport.ukm, transport.encryptedKey, transport.mac,
                                      szOID_Gost28147_89_Kelvarine_A_ParamSet);
        ASSERT_TRUE(ImportBlob(prov.h, blob, agreement.h, &session.h))
            << std::hex << GetLastError();
        ExpectEngineCfb(session.h, szOID_Gost28147_89_Kelvarine_A_ParamSet, cek);
    }
}

// RFC 7836 appendix A (tests/data/csp/rfc7836.txt). A SIMPLEBLOB the engine wraps under the
// example's KEK (ECB and MAC, the wrap without diversification, so that KEK itself is the
// key-encryption key) imports (its MAC checks out) only when the provider derives the same KEK,
// from either side.
TEST(CspKeyExchange, Rfc7836VkoVector)
{
    const Bytes kek = FromHex("c9a9a77320e2cc559ed72dce6f47e2192ccea95fa648670582c054c0ef36c221");
    const Bytes ukm = FromHex("1d80603c8544c727");
    // GostR3410-2012-PublicKeyParameters: id-tc26-gost-3410-12-512-paramSetA, GOST R 34.11-2012 512
    const Bytes parameters = FromHex("301506092a850307010201020106082a85030701010203");
    const Bytes cek = FromHex("0f0e0d0c0b0a09080706050403020100f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    EngineGost89 engine(szOID_Gost28147_89_Kelvarine_A_ParamSet);
    const Bytes simpleBlob =
        SimpleBlob(ukm, engine.EncryptEcb(kek, cek), engine.MacWithIv(kek, ukm, cek),
                   szOID_Gost28147_89_Kelvarine_A_ParamSet);
    const ALG_ID simpleWrap = ALG_GOST_KEY_WRAP_SIMPLE;
    for (const kvtest::FileCase &side : kvtest::ReadFileCases("csp/rfc7836.txt")) {
        SCOPED_TRACE(side.where);
        ProvHandle prov;
        KeyHandle user, agreement, session;
        OpenAgreement(
            side.Get("Name"),
            PublicKeyBlob(ALG_GOST_SIGN_2012_512, {parameters, side.Hex("PeerPublicKey")}), &prov,
            &user, &agreement);
        ASSERT_TRUE(SetParam(agreement.h, KP_ALGID, &simpleWrap));
        ASSERT_TRUE(ImportBlob(prov.h, simpleBlob, agreement.h, &session.h))
            << std::hex << GetLastError();
        ExpectEngineCfb(session.h, szOID_Gost28147_89_Kelvarine_A_ParamSet, cek);
    }
}

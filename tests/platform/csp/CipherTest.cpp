// CryptEncrypt and CryptDecrypt: GOST 28147-89 CFB with Kelvarine key meshing, against
// ciphertexts made by `openssl enc -engine gost -gost89` (tests/data/csp/README.md).
#include "CspTestSupport.h"

#include "common/TraceFile.h"

#include <gtest/gtest.h>

using namespace csptest;

namespace {

const Bytes kKey = FromHex("8182838485868788898a8b8c8d8e8f90a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
const Bytes kIv = FromHex("0102030405060708");

const struct {
    const char *vector, *paramSet;
} kVectors[] = {
    {"csp/cfb-A.bin", szOID_Gost28147_89_Kelvarine_A_ParamSet},
    {"csp/cfb-B.bin", szOID_Gost28147_89_Kelvarine_B_ParamSet},
    {"csp/cfb-C.bin", szOID_Gost28147_89_Kelvarine_C_ParamSet},
    {"csp/cfb-D.bin", szOID_Gost28147_89_Kelvarine_D_ParamSet},
    {"csp/cfb-Z.bin", szOID_tc26_gost_28147_param_Z},
};

// The message in pieces that cut blocks, with Final only on the last.
Bytes RunInPieces(HCRYPTKEY hKey, Bytes data, bool encrypt)
{
    static const size_t kPieces[] = {1, 7, 8, 9, 1000};
    size_t offset = 0;
    for (size_t piece : kPieces) {
        DWORD cb = static_cast<DWORD>(piece);
        EXPECT_TRUE(encrypt ? CryptEncrypt(hKey, 0, FALSE, 0, data.data() + offset, &cb, cb)
                            : CryptDecrypt(hKey, 0, FALSE, 0, data.data() + offset, &cb));
        EXPECT_EQ(piece, cb);
        offset += piece;
    }
    DWORD cb = static_cast<DWORD>(data.size() - offset);
    EXPECT_TRUE(encrypt ? CryptEncrypt(hKey, 0, TRUE, 0, data.data() + offset, &cb, cb)
                        : CryptDecrypt(hKey, 0, TRUE, 0, data.data() + offset, &cb));
    return data;
}

} // namespace

// One call, several calls, and decryption, for each parameter set; a message after Final
// starts again from KP_IV.
TEST(CspCipher, CfbMatchesOpensslEnc)
{
    const Bytes plain = kvtest::ReadDataFile("csp/cfb-plain.bin");
    for (const auto &v : kVectors) {
        SCOPED_TRACE(v.paramSet);
        const Bytes expected = kvtest::ReadDataFile(v.vector);
        KnownSessionKey known;
        ImportKnownKey(kKey, v.paramSet, &known);
        ASSERT_TRUE(CryptSetKeyParam(known.session.h, KP_IV, kIv.data(), 0));
        EXPECT_EQ(ToHex(expected), ToHex(Encrypt(known.session.h, plain)));
        EXPECT_EQ(ToHex(expected), ToHex(Encrypt(known.session.h, plain)));
        EXPECT_EQ(ToHex(expected), ToHex(RunInPieces(known.session.h, plain, true)));
        EXPECT_EQ(ToHex(plain), ToHex(RunInPieces(known.session.h, expected, false)));
    }
}

// KP_IV and KP_GOST_CIPHER_PARAMSET set in the middle of a message start a new one.
TEST(CspCipher, ParameterChangeRestartsMessage)
{
    const Bytes plain = kvtest::ReadDataFile("csp/cfb-plain.bin");
    KnownSessionKey known;
    ImportKnownKey(kKey, szOID_Gost28147_89_Kelvarine_A_ParamSet, &known);
    Bytes head(plain.begin(), plain.begin() + 13);
    DWORD cb = static_cast<DWORD>(head.size());
    ASSERT_TRUE(CryptEncrypt(known.session.h, 0, FALSE, 0, head.data(), &cb, cb));
    ASSERT_TRUE(SetParam(known.session.h, KP_GOST_CIPHER_PARAMSET, szOID_tc26_gost_28147_param_Z));
    ASSERT_TRUE(CryptSetKeyParam(known.session.h, KP_IV, kIv.data(), 0));
    EXPECT_EQ(ToHex(kvtest::ReadDataFile("csp/cfb-Z.bin")), ToHex(Encrypt(known.session.h, plain)));
}

// The size query of CryptEncrypt and a buffer too small for the data.
TEST(CspCipher, BufferProtocol)
{
    ProvHandle prov;
    AcquireVerify(&prov);
    KeyHandle key;
    ASSERT_TRUE(CryptGenKey(prov.h, ALG_GOST_28147, 0, &key.h));
    Bytes data(40, 0x5A);
    DWORD cb = 40;
    SetLastError(0xDEADBEEF);
    EXPECT_TRUE(CryptEncrypt(key.h, 0, TRUE, 0, nullptr, &cb, 0));
    EXPECT_EQ(40u, cb);
    EXPECT_EQ(0xDEADBEEFu, GetLastError());
    EXPECT_FALSE(CryptEncrypt(key.h, 0, TRUE, 0, data.data(), &cb, 39));
    EXPECT_EQ(DWORD{ERROR_MORE_DATA}, GetLastError());
    EXPECT_EQ(40u, cb);
    EXPECT_EQ(Bytes(40, 0x5A), data);
    cb = 0;
    EXPECT_TRUE(CryptDecrypt(key.h, 0, TRUE, 0, nullptr, &cb));
}

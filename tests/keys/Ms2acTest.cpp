// CryptoAPI structures -> ASN.1 values.
#include "keys/ms2ac.h"

#include "GostKeyVectors.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using kvtest::Bytes;
using testing::ElementsAre;

namespace {

class Ms2ac : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(0, rtInitContext(&ctx_, nullptr)); }
    void TearDown() override { rtFreeContext(&ctx_); }
    Bytes Encode(SubjectPublicKeyInfo *value)
    {
        EXPECT_EQ(0, xe_setp(&ctx_, nullptr, 0));
        const int cb = asn1E_SubjectPublicKeyInfo(&ctx_, value, ASN1EXPL);
        EXPECT_GT(cb, 0);
        return cb > 0 ? Bytes(xe_getp(&ctx_), xe_getp(&ctx_) + cb) : Bytes{};
    }
    Asn1Context ctx_{};
};

// Every OpenSSL key in CryptoAPI's form becomes a value that encodes to OpenSSL's DER; the
// value holds copies, not the caller's memory.
TEST_F(Ms2ac, SubjectPublicKeyInfoEncodesAsOpenSsl)
{
    for (const auto &v : kvtest::LoadGostKeyVectors()) {
        SCOPED_TRACE(v.name);
        Bytes params = v.params, publicKey = v.publicKey;
        std::string oid = v.algorithmOid;
        CERT_PUBLIC_KEY_INFO info = {
            {oid.data(), {static_cast<DWORD>(params.size()), params.data()}},
            {static_cast<DWORD>(publicKey.size()), publicKey.data(), 0}};
        SubjectPublicKeyInfo value{};
        ASSERT_EQ(1, ms2ac_SubjectPublicKeyInfo(&ctx_, &info, &value));
        std::fill(params.begin(), params.end(), 0);
        std::fill(publicKey.begin(), publicKey.end(), 0);
        oid.assign(oid.size(), '9');
        EXPECT_EQ(v.spki, Encode(&value));
    }
}

// Empty parameters are still present, as an empty open type; an empty blob converts.
TEST_F(Ms2ac, EmptyParametersArePresentAndEmpty)
{
    CRYPT_ALGORITHM_IDENTIFIER algorithm = {const_cast<LPSTR>("1.2.643.2.2.19"), {0, nullptr}};
    AlgorithmIdentifier value{};
    ASSERT_EQ(1, ms2ac_AlgorithmIdentifier(&ctx_, &algorithm, &value));
    EXPECT_EQ(1u, value.m.parametersPresent);
    EXPECT_EQ(0u, value.parameters.numocts);
    EXPECT_EQ(6u, value.algorithm.numids);
    SubjectPublicKeyInfo spki{};
    spki.algorithm = value;
    // SEQUENCE { SEQUENCE { OID 1.2.643.2.2.19 }, BIT STRING (0 bits) }
    EXPECT_THAT(Encode(&spki), ElementsAre(0x30, 0x0D, 0x30, 0x08, 0x06, 0x06, 0x2A, 0x85, 0x03,
                                           0x02, 0x02, 0x13, 0x03, 0x01, 0x00));
}

// An algorithm text that is not dotted decimal fails both converters.
TEST_F(Ms2ac, MalformedOidTextFails)
{
    for (const char *text : {"GOST R 34.10-2001", "1", "1.2.643..19", ""}) {
        SCOPED_TRACE(text);
        CERT_PUBLIC_KEY_INFO info{};
        info.Algorithm.pszObjId = const_cast<LPSTR>(text);
        AlgorithmIdentifier algorithm{};
        EXPECT_EQ(0, ms2ac_AlgorithmIdentifier(&ctx_, &info.Algorithm, &algorithm));
        SubjectPublicKeyInfo spki{};
        EXPECT_EQ(0, ms2ac_SubjectPublicKeyInfo(&ctx_, &info, &spki));
    }
}

} // namespace

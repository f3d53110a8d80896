// What the three ESS signing-certificate tests share: the openssl-made vectors of
// tests/data/ess with the values openssl reported for them, caller structures built from
// those values, and a check of a flat decode result through every pointer it holds.
#pragma once

#include "kvext/kvext.h"

#include "common/Der.h"
#include "common/EntryPoints.h"
#include "common/FileTest.h"
#include "common/TraceFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace esstest {

using Bytes = std::vector<BYTE>;

// "30 1A 04 ..." or "301A04..." into bytes.
inline Bytes Hex(const std::string &text)
{
    return kvtest::FromHex(text);
}
inline Bytes Concat(const Bytes &head, const Bytes &tail)
{
    return kvtest::Cat({head, tail});
}
using kvtest::Der;
inline Bytes Seq(const Bytes &contents)
{
    return Der(0x30, contents);
}

inline Bytes BlobBytes(const CRYPT_DATA_BLOB &blob)
{
    return blob.cbData ? Bytes(blob.pbData, blob.pbData + blob.cbData) : Bytes{};
}

inline CRYPT_DATA_BLOB BlobOf(Bytes &bytes)
{
    return {static_cast<DWORD>(bytes.size()), bytes.empty() ? nullptr : bytes.data()};
}

inline Bytes EssFile(const std::string &name)
{
    Bytes der = kvtest::ReadDataFile("ess/" + name);
    EXPECT_FALSE(der.empty()) << name;
    return der;
}

// expected.txt: "<certificate>.<what> <hex>" as openssl printed it.
inline std::string Expected(const std::string &key)
{
    std::ifstream in(kvtest::DataPath("ess/expected.txt"));
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string name, value;
        if (fields >> name >> value && name == key) return value;
    }
    ADD_FAILURE() << "no " << key << " in expected.txt";
    return {};
}

// openssl prints a serial number as the magnitude, most significant octet first. The host's
// X509_MULTI_BYTE_INTEGER holds the INTEGER's content octets (with the sign octet X.690,
// 8.3.2 puts in front of a high bit) least significant first.
inline Bytes SerialAsHostBlob(const std::string &opensslHex)
{
    Bytes content = Hex(opensslHex);
    if (!content.empty() && (content.front() & 0x80)) content.insert(content.begin(), 0x00);
    std::reverse(content.begin(), content.end());
    return content;
}

// The certificates behind the openssl ts vectors, in the order the TSA lists them: itself,
// then (with ess_cert_id_chain) the intermediate and the root with issuer and serial.
struct CertExpectation {
    Bytes hash;
    Bytes issuer; // empty: no issuerSerial
    Bytes serial;
};

inline std::vector<CertExpectation> ExpectedCerts(const std::string &digest, bool chain)
{
    std::vector<CertExpectation> certs = {{Hex(Expected("tsa." + digest)), {}, {}}};
    if (chain)
        for (const char *who : {"inter", "root"})
            certs.push_back({Hex(Expected(std::string(who) + "." + digest)),
                             EssFile(std::string(who) + "-issuer.der"),
                             SerialAsHostBlob(Expected(std::string(who) + ".serial"))});
    return certs;
}

template <typename CertId> void ExpectCertId(const CertExpectation &expected, const CertId &got)
{
    EXPECT_EQ(expected.hash, BlobBytes(got.CertHash));
    EXPECT_EQ(expected.issuer, BlobBytes(got.IssuerSerial.Issuer));
    EXPECT_EQ(expected.serial, BlobBytes(got.IssuerSerial.SerialNumber));
    if (expected.issuer.empty()) {
        EXPECT_EQ(nullptr, got.IssuerSerial.Issuer.pbData);
        EXPECT_EQ(nullptr, got.IssuerSerial.SerialNumber.pbData);
    }
}

// Caller identifiers pointing into `expected` (which must outlive them).
template <typename CertId>
std::vector<CertId> CallerCertIds(std::vector<CertExpectation> &expected, LPSTR pszHashOid)
{
    std::vector<CertId> certIds(expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        if constexpr (requires { certIds[i].HashAlgorithm; })
            certIds[i].HashAlgorithm.pszObjId = pszHashOid;
        certIds[i].CertHash = BlobOf(expected[i].hash);
        certIds[i].IssuerSerial.Issuer = BlobOf(expected[i].issuer);
        certIds[i].IssuerSerial.SerialNumber = BlobOf(expected[i].serial);
    }
    return certIds;
}

// ------------------------------------------------------------------ flat result check

// Every region a flat result's pointers refer to, with the structure itself first.
class FlatLayout {
  public:
    FlatLayout(const void *block, DWORD cbBlock)
        : block_(static_cast<const BYTE *>(block)), cbBlock_(cbBlock)
    {
    }
    void Add(const void *p, size_t cb, const char *what)
    {
        if (cb == 0) {
            EXPECT_EQ(nullptr, p) << what << ": empty, so no pointer";
            return;
        }
        ASSERT_NE(nullptr, p) << what;
        EXPECT_TRUE(kvtest::InsideBlock(block_, cbBlock_, p, cb)) << what;
        regions_.emplace_back(static_cast<const BYTE *>(p), cb);
    }
    void AddBlob(const CRYPT_DATA_BLOB &blob, const char *what)
    {
        Add(blob.pbData, blob.cbData, what);
    }
    void AddString(const char *text, const char *what)
    {
        ASSERT_NE(nullptr, text) << what;
        Add(text, std::strlen(text) + 1, what);
    }
    void AddAlgorithm(const CRYPT_ALGORITHM_IDENTIFIER &alg)
    {
        AddString(alg.pszObjId, "HashAlgorithm.pszObjId");
        AddBlob(alg.Parameters, "HashAlgorithm.Parameters");
    }
    template <typename CertId> void AddCertId(const CertId &certId)
    {
        if constexpr (requires { certId.HashAlgorithm; }) AddAlgorithm(certId.HashAlgorithm);
        AddBlob(certId.CertHash, "CertHash");
        AddBlob(certId.IssuerSerial.Issuer, "Issuer");
        AddBlob(certId.IssuerSerial.SerialNumber, "SerialNumber");
    }
    void AddPolicy(const CERT_POLICY_INFO &policy)
    {
        AddString(policy.pszPolicyIdentifier, "pszPolicyIdentifier");
        Add(policy.rgPolicyQualifier, policy.cPolicyQualifier * sizeof(CERT_POLICY_QUALIFIER_INFO),
            "rgPolicyQualifier");
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(policy.rgPolicyQualifier) %
                          alignof(CERT_POLICY_QUALIFIER_INFO))
            << "qualifier array aligned for its structure";
        for (DWORD i = 0; i < policy.cPolicyQualifier; ++i) {
            AddString(policy.rgPolicyQualifier[i].pszPolicyQualifierId, "pszPolicyQualifierId");
            AddBlob(policy.rgPolicyQualifier[i].Qualifier, "Qualifier");
        }
    }
    template <typename Info> void AddInfo(const Info &info)
    {
        Add(&info, sizeof info, "structure");
        EXPECT_EQ(static_cast<const void *>(&info), block_) << "the structure opens the block";
        Add(info.rgCerts, info.cCerts * sizeof *info.rgCerts, "rgCerts");
        Add(info.rgPolicies, info.cPolicies * sizeof *info.rgPolicies, "rgPolicies");
        for (DWORD i = 0; i < info.cCerts; ++i)
            AddCertId(info.rgCerts[i]);
        for (DWORD i = 0; i < info.cPolicies; ++i)
            AddPolicy(info.rgPolicies[i]);
    }
    // No two regions overlap, and the last one ends where the block ends: the fill step
    // used exactly the bytes the size step asked for.
    void ExpectTiling() const
    {
        auto sorted = regions_;
        std::sort(sorted.begin(), sorted.end());
        for (size_t i = 1; i < sorted.size(); ++i)
            EXPECT_LE(sorted[i - 1].first + sorted[i - 1].second, sorted[i].first)
                << "regions " << i - 1 << " and " << i << " overlap";
        ASSERT_FALSE(sorted.empty());
        EXPECT_EQ(block_ + cbBlock_, sorted.back().first + sorted.back().second);
    }

  private:
    const BYTE *block_;
    DWORD cbBlock_;
    std::vector<std::pair<const BYTE *, size_t>> regions_;
};

// Decodes `der` in every delivery mode and checks the result's layout; null on failure.
template <typename Info>
kvtest::FlatResult DecodeChecked(const kvtest::CodecEntryPoints &codec, const Bytes &der,
                                 DWORD *pcb = nullptr)
{
    DWORD cb = 0;
    kvtest::FlatResult result = kvtest::DecodeEveryWay(codec, der, &cb);
    if (!result) return result;
    FlatLayout layout(result.get(), cb);
    layout.AddInfo(*static_cast<const Info *>(result.get()));
    layout.ExpectTiling();
    if (pcb) *pcb = cb;
    return result;
}

template <typename Info> const Info &As(const kvtest::FlatResult &result)
{
    return *static_cast<const Info *>(result.get());
}

// Encoding fails with `error` and the single trace line `message`.
inline void ExpectEncodeFailure(const kvtest::CodecEntryPoints &codec, const void *pvStructInfo,
                                DWORD error, const char *message)
{
    kvtest::ClearTrace();
    DWORD cb = 0;
    SetLastError(0);
    EXPECT_FALSE(codec.encodeEx(kvtest::kEncodingType, kvtest::kStructType, pvStructInfo, 0,
                                nullptr, nullptr, &cb));
    EXPECT_EQ(error, GetLastError());
    EXPECT_EQ(0u, cb);
    EXPECT_THAT(kvtest::TraceLines(), testing::ElementsAre(testing::HasSubstr(message)));
}

} // namespace esstest

// The structure codecs OpenSSL also has, side by side with OpenSSL on the same DER in one run:
// d2i + free against DecodeEx (allocated result + free, and into a caller buffer), i2d into a
// new block + free against EncodeEx (allocated and caller buffer), and memcpy of the DER as
// the floor. Names read "<item>/<side>/<direction>" so the table script can pair them.
#include "kvext/kvext.h"

#include <benchmark/benchmark.h>
#include <openssl/crypto.h>
#include <openssl/ess.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr DWORD kEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::vector<BYTE> ReadDer(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using DecodeExFn = BOOL(WINAPI *)(DWORD, LPCSTR, const BYTE *, DWORD, DWORD, PCRYPT_DECODE_PARA,
                                  void *, DWORD *);
using EncodeExFn = BOOL(WINAPI *)(DWORD, LPCSTR, const void *, DWORD, PCRYPT_ENCODE_PARA, void *,
                                  DWORD *);

struct OurCodec {
    LPCSTR structType;
    DecodeExFn decodeEx;
    EncodeExFn encodeEx;
};

// OpenSSL's three functions of one type, behind one signature.
template <typename T, T *(*D2i)(T **, const unsigned char **, long),
          int (*I2d)(const T *, unsigned char **), void (*Free)(T *)>
struct Peer {
    static void *Decode(const BYTE *der, size_t cb)
    {
        const unsigned char *cursor = der;
        return D2i(nullptr, &cursor, static_cast<long>(cb));
    }
    static int Encode(const void *value, unsigned char **out)
    {
        return I2d(static_cast<const T *>(value), out);
    }
    static void Release(void *value) { Free(static_cast<T *>(value)); }
};

struct PeerCodec {
    void *(*decode)(const BYTE *, size_t);
    int (*encode)(const void *, unsigned char **);
    void (*release)(void *);
};

template <typename P> constexpr PeerCodec kPeer = {P::Decode, P::Encode, P::Release};

using CrlDistPoints =
    Peer<CRL_DIST_POINTS, d2i_CRL_DIST_POINTS, i2d_CRL_DIST_POINTS, CRL_DIST_POINTS_free>;
using UsagePeriod =
    Peer<PKEY_USAGE_PERIOD, d2i_PKEY_USAGE_PERIOD, i2d_PKEY_USAGE_PERIOD, PKEY_USAGE_PERIOD_free>;
using SigningCert =
    Peer<ESS_SIGNING_CERT, d2i_ESS_SIGNING_CERT, i2d_ESS_SIGNING_CERT, ESS_SIGNING_CERT_free>;
using SigningCertV2 = Peer<ESS_SIGNING_CERT_V2, d2i_ESS_SIGNING_CERT_V2, i2d_ESS_SIGNING_CERT_V2,
                           ESS_SIGNING_CERT_V2_free>;
using SignTool =
    Peer<ISSUER_SIGN_TOOL, d2i_ISSUER_SIGN_TOOL, i2d_ISSUER_SIGN_TOOL, ISSUER_SIGN_TOOL_free>;

const OurCodec kCrlDistPoints = {X509_CRL_DIST_POINTS, OrvaDllCrlDistributionPointsDecodeEx,
                                 OrvaDllCrlDistributionPointsEncodeEx};
const OurCodec kUsagePeriod = {"2.5.29.16", OrvaDllPrivateKeyUsagePeriodDecodeEx,
                               OrvaDllPrivateKeyUsagePeriodEncodeEx};
const OurCodec kSigningCert = {"1.2.840.113549.1.9.16.2.12", OrvaDllSigningCertificateDecodeEx,
                               OrvaDllSigningCertificateEncodeEx};
const OurCodec kSigningCertV2 = {"1.2.840.113549.1.9.16.2.47", OrvaDllSigningCertificateV2DecodeEx,
                                 OrvaDllSigningCertificateV2EncodeEx};
const OurCodec kSignTool = {"1.2.643.100.112", OrvaDllIssuerSignToolDecodeEx,
                            OrvaDllIssuerSignToolEncodeEx};

struct Item {
    const char *name;
    const char *file; // under the benchmark data directory
    OurCodec ours;
    PeerCodec peer;
};

const Item kItems[] = {
    {"crldp-short-uri", "crldp-short-uri.der", kCrlDistPoints, kPeer<CrlDistPoints>},
    {"crldp-several", "crldp-several.der", kCrlDistPoints, kPeer<CrlDistPoints>},
    {"crldp-long-uri", "crldp-long-uri.der", kCrlDistPoints, kPeer<CrlDistPoints>},
    {"crldp-all-forms", "crldp-all-forms.der", kCrlDistPoints, kPeer<CrlDistPoints>},
    {"pkup-notafter", "pkup-notafter.der", kUsagePeriod, kPeer<UsagePeriod>},
    {"pkup-both", "pkup-both.der", kUsagePeriod, kPeer<UsagePeriod>},
    {"sc-sha1", "sc-sha1.der", kSigningCert, kPeer<SigningCert>},
    {"sc-sha1-issuer", "sc-sha1-issuer.der", kSigningCert, kPeer<SigningCert>},
    {"scv2-sha256", "scv2-sha256.der", kSigningCertV2, kPeer<SigningCertV2>},
    {"scv2-sha512-issuer", "scv2-sha512-issuer.der", kSigningCertV2, kPeer<SigningCertV2>},
    {"issuer-sign-tool", "issuer-sign-tool.der", kSignTool, kPeer<SignTool>},
};

// One item's inputs, made once: its DER, our decoded structure and OpenSSL's.
struct Fixture {
    const Item &item;
    std::vector<BYTE> der;
    void *ourValue = nullptr;
    DWORD cbOurValue = 0;
    DWORD cbOurEncoded = 0;
    void *peerValue = nullptr;

    explicit Fixture(const Item &it)
        : item(it), der(ReadDer(std::string(KV_BENCH_DATA) + "/" + it.file))
    {
        const auto cbDer = static_cast<DWORD>(der.size());
        if (!item.ours.decodeEx(kEncodingType, item.ours.structType, der.data(), cbDer,
                                CRYPT_DECODE_ALLOC_FLAG, nullptr, &ourValue, &cbOurValue) ||
            !item.ours.encodeEx(kEncodingType, item.ours.structType, ourValue, 0, nullptr, nullptr,
                                &cbOurEncoded))
            throw std::runtime_error(std::string("our codec refuses ") + item.file);
        peerValue = item.peer.decode(der.data(), der.size());
        if (!peerValue) throw std::runtime_error(std::string("OpenSSL refuses ") + item.file);
    }
};

void Memcpy(benchmark::State &state, const Fixture *fx)
{
    std::vector<BYTE> copy(fx->der.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), fx->der.data(), fx->der.size());
        benchmark::ClobberMemory();
    }
}

void PeerDecode(benchmark::State &state, const Fixture *fx)
{
    for (auto _ : state) {
        void *value = fx->item.peer.decode(fx->der.data(), fx->der.size());
        benchmark::DoNotOptimize(value);
        fx->item.peer.release(value);
    }
}

void PeerEncode(benchmark::State &state, const Fixture *fx)
{
    for (auto _ : state) {
        unsigned char *out = nullptr;
        benchmark::DoNotOptimize(fx->item.peer.encode(fx->peerValue, &out));
        OPENSSL_free(out);
    }
}

void OurDecodeAlloc(benchmark::State &state, const Fixture *fx)
{
    const OurCodec &ours = fx->item.ours;
    for (auto _ : state) {
        void *value = nullptr;
        DWORD cb = 0;
        benchmark::DoNotOptimize(ours.decodeEx(kEncodingType, ours.structType, fx->der.data(),
                                               static_cast<DWORD>(fx->der.size()),
                                               CRYPT_DECODE_ALLOC_FLAG, nullptr, &value, &cb));
        std::free(value);
    }
}

void OurDecodeBuffer(benchmark::State &state, const Fixture *fx)
{
    const OurCodec &ours = fx->item.ours;
    std::vector<BYTE> buffer(fx->cbOurValue);
    for (auto _ : state) {
        DWORD cb = fx->cbOurValue;
        benchmark::DoNotOptimize(ours.decodeEx(kEncodingType, ours.structType, fx->der.data(),
                                               static_cast<DWORD>(fx->der.size()), 0, nullptr,
                                               buffer.data(), &cb));
        benchmark::ClobberMemory();
    }
}

void OurEncodeAlloc(benchmark::State &state, const Fixture *fx)
{
    const OurCodec &ours = fx->item.ours;
    for (auto _ : state) {
        BYTE *out = nullptr;
        DWORD cb = 0;
        benchmark::DoNotOptimize(ours.encodeEx(kEncodingType, ours.structType, fx->ourValue,
                                               CRYPT_ENCODE_ALLOC_FLAG, nullptr, &out, &cb));
        std::free(out);
    }
}

void OurEncodeBuffer(benchmark::State &state, const Fixture *fx)
{
    const OurCodec &ours = fx->item.ours;
    std::vector<BYTE> buffer(fx->cbOurEncoded);
    for (auto _ : state) {
        DWORD cb = fx->cbOurEncoded;
        benchmark::DoNotOptimize(ours.encodeEx(kEncodingType, ours.structType, fx->ourValue, 0,
                                               nullptr, buffer.data(), &cb));
        benchmark::ClobberMemory();
    }
}

// Fixtures live for the whole run; the benchmarks hold pointers to them.
std::vector<Fixture> &Fixtures()
{
    static std::vector<Fixture> fixtures;
    return fixtures;
}

const bool kRegistered = [] {
    auto &fixtures = Fixtures();
    fixtures.reserve(std::size(kItems));
    for (const Item &item : kItems) {
        const Fixture *fx = &fixtures.emplace_back(item);
        const std::string prefix = std::string(item.name) + "/";
        benchmark::RegisterBenchmark((prefix + "memcpy").c_str(), Memcpy, fx);
        benchmark::RegisterBenchmark((prefix + "openssl/decode").c_str(), PeerDecode, fx);
        benchmark::RegisterBenchmark((prefix + "ours/decode").c_str(), OurDecodeAlloc, fx);
        benchmark::RegisterBenchmark((prefix + "ours/decode-buffer").c_str(), OurDecodeBuffer, fx);
        benchmark::RegisterBenchmark((prefix + "openssl/encode").c_str(), PeerEncode, fx);
        benchmark::RegisterBenchmark((prefix + "ours/encode").c_str(), OurEncodeAlloc, fx);
        benchmark::RegisterBenchmark((prefix + "ours/encode-buffer").c_str(), OurEncodeBuffer, fx);
    }
    return true;
}();

} // namespace

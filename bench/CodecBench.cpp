// Cost of whole entry-point calls: one context, one conversion, one delivery per call.
#include "kvext/kvext.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr DWORD kEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr LPCSTR kStructType = "2.5.29.16";

FILETIME At(uint64_t unixSeconds)
{
    const uint64_t ticks = (unixSeconds + 11644473600ULL) * 10000000ULL;
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

void EncodeUsagePeriod(benchmark::State &state)
{
    FILETIME notBefore = At(1267438272), notAfter = At(2524607999);
    const KVCERT_PRIVATE_KEY_USAGE_PERIOD period = {&notBefore, &notAfter};
    std::vector<BYTE> out(64);
    for (auto _ : state) {
        DWORD cb = static_cast<DWORD>(out.size());
        benchmark::DoNotOptimize(OrvaDllPrivateKeyUsagePeriodEncode(kEncodingType, kStructType,
                                                                    &period, out.data(), &cb));
    }
}
BENCHMARK(EncodeUsagePeriod);

void DecodeUsagePeriodAllocated(benchmark::State &state)
{
    const std::vector<BYTE> der = {0x30, 0x22, 0x80, 0x0F, '2', '0', '1', '0', '0',
                                   '3',  '0',  '1',  '1',  '0', '1', '1', '1', '2',
                                   'Z',  0x81, 0x0F, '2',  '0', '4', '9', '1', '2',
                                   '3',  '1',  '2',  '3',  '5', '9', '5', '9', 'Z'};
    for (auto _ : state) {
        void *pv = nullptr;
        DWORD cb = 0;
        OrvaDllPrivateKeyUsagePeriodDecodeEx(kEncodingType, kStructType, der.data(),
                                             static_cast<DWORD>(der.size()),
                                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &pv, &cb);
        std::free(pv);
    }
}
BENCHMARK(DecodeUsagePeriodAllocated);

// A private certificate store of n elements: the DER SET OF sort dominates as n grows.
void EncodeCertificateStore(benchmark::State &state)
{
    const auto count = static_cast<size_t>(state.range(0));
    std::vector<std::vector<BYTE>> elements;
    std::vector<CRYPT_DER_BLOB> blobs;
    for (size_t i = 0; i < count; ++i)
        elements.push_back({0x04, 0x04, static_cast<BYTE>(i * 7919 >> 8),
                            static_cast<BYTE>(i * 7919), static_cast<BYTE>(i), 0x00});
    for (auto &element : elements)
        blobs.push_back({static_cast<DWORD>(element.size()), element.data()});
    const CRYPT_BLOB_ARRAY store = {static_cast<DWORD>(count), blobs.data()};
    for (auto _ : state) {
        BYTE *pb = nullptr;
        DWORD cb = 0;
        OrvaDllGostPrivateCertificateStoreEncodeEx(kEncodingType, kStructType, &store,
                                                   CRYPT_ENCODE_ALLOC_FLAG, nullptr, &pb, &cb);
        std::free(pb);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
}
BENCHMARK(EncodeCertificateStore)->Range(1, 4096);

std::vector<BYTE> ReadTestData(const std::string &name)
{
    std::ifstream in(std::string(KV_TEST_DATA) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using DecodeExFn = BOOL(WINAPI *)(DWORD, LPCSTR, const BYTE *, DWORD, DWORD, PCRYPT_DECODE_PARA,
                                  void *, DWORD *);

// Decoders OpenSSL has no counterpart of, on the codec test vectors.
void DecodeAllocated(benchmark::State &state, DecodeExFn decodeEx, const char *file)
{
    const std::vector<BYTE> der = ReadTestData(file);
    for (auto _ : state) {
        void *pv = nullptr;
        DWORD cb = 0;
        if (!decodeEx(kEncodingType, kStructType, der.data(), static_cast<DWORD>(der.size()),
                      CRYPT_DECODE_ALLOC_FLAG, nullptr, &pv, &cb))
            state.SkipWithError("decode failed");
        std::free(pv);
    }
}
BENCHMARK_CAPTURE(DecodeAllocated, OtherSigningCertificate, OrvaDllOtherSigningCertificateDecodeEx,
                  "ess/other-mixed.der");
BENCHMARK_CAPTURE(DecodeAllocated, PrivateKeyDeriveCounter, OrvaDllPrivateKeyDeriveCounterDecodeEx,
                  "codecs/derive_counter_max.der");

// A certificate's GOST public key to the provider's public-key blob.
void ConvertPublicKeyInfo(benchmark::State &state, const char *name, const char *oid)
{
    std::vector<BYTE> params = ReadTestData(std::string("keys/") + name + ".params.der");
    std::vector<BYTE> key = ReadTestData(std::string("keys/") + name + ".pubkey.der");
    CERT_PUBLIC_KEY_INFO info = {
        {const_cast<LPSTR>(oid), {static_cast<DWORD>(params.size()), params.data()}},
        {static_cast<DWORD>(key.size()), key.data(), 0}};
    for (auto _ : state) {
        BYTE *pbBlob = nullptr;
        DWORD cbBlob = 0;
        if (!OrvaConvertPublicKeyInfo(X509_ASN_ENCODING, &info, 0, 0, &pbBlob, &cbBlob))
            state.SkipWithError("conversion failed");
        std::free(pbBlob);
    }
}
BENCHMARK_CAPTURE(ConvertPublicKeyInfo, gost2001_A, "gost2001_A", "1.2.643.2.2.19");
BENCHMARK_CAPTURE(ConvertPublicKeyInfo, gost2012_256_A, "gost2012_256_A", "1.2.643.7.1.1.1.1");
BENCHMARK_CAPTURE(ConvertPublicKeyInfo, gost2012_512_A, "gost2012_512_A", "1.2.643.7.1.1.1.2");

} // namespace

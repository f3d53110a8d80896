// Whatever a decode entry point accepts encodes again, and that encoding is canonical: decoding
// it and encoding the result gives the same octets. The flat results hold pointers, so they are
// compared through that re-encoding. Input: a selector octet picking the structure, then DER.
// One asymmetry is the structures' own: the CRL distribution points decoder takes an empty
// list, which the encoder refuses (SIZE (1..MAX) is checked on encoding only).
#include "kvext/kvext.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using DecodeExFn = BOOL (*)(DWORD, LPCSTR, const BYTE *, DWORD, DWORD, PCRYPT_DECODE_PARA, void *,
                            DWORD *);
using EncodeExFn = BOOL (*)(DWORD, LPCSTR, const void *, DWORD, PCRYPT_ENCODE_PARA, void *,
                            DWORD *);

// A flat result the encoder refuses by design.
using RefusedFn = bool (*)(const void *pvInfo);

struct Codec {
    DecodeExFn decode;
    EncodeExFn encode;
    RefusedFn refused = nullptr;
};

bool NoDistributionPoint(const void *pvInfo)
{
    return static_cast<const CRL_DIST_POINTS_INFO *>(pvInfo)->cDistPoint == 0;
}

constexpr Codec kCodecs[] = {
    {OrvaDllPrivateKeyUsagePeriodDecodeEx, OrvaDllPrivateKeyUsagePeriodEncodeEx},
    {OrvaDllGostPrivateCertificateStoreDecodeEx, OrvaDllGostPrivateCertificateStoreEncodeEx},
    {OrvaDllSigningCertificateDecodeEx, OrvaDllSigningCertificateEncodeEx},
    {OrvaDllSigningCertificateV2DecodeEx, OrvaDllSigningCertificateV2EncodeEx},
    {OrvaDllOtherSigningCertificateDecodeEx, OrvaDllOtherSigningCertificateEncodeEx},
    {OrvaDllCrlDistributionPointsDecodeEx, OrvaDllCrlDistributionPointsEncodeEx,
     NoDistributionPoint},
    {OrvaDllIssuerSignToolDecodeEx, OrvaDllIssuerSignToolEncodeEx},
};

constexpr DWORD kType = X509_ASN_ENCODING;

struct Der {
    BYTE *pb = nullptr;
    DWORD cb = 0;
    Der() = default;
    Der(const Der &) = delete;
    ~Der() { std::free(pb); }
};

// Decodes and encodes again; FALSE when the decoder refuses the input.
BOOL Reencode(const Codec &codec, const BYTE *pb, DWORD cb, Der *out, bool mustDecode)
{
    void *pvInfo = nullptr;
    DWORD cbInfo = 0;
    if (!codec.decode(kType, "1.2.3", pb, cb, CRYPT_DECODE_ALLOC_FLAG, nullptr, &pvInfo, &cbInfo)) {
        if (mustDecode) __builtin_trap(); // our own encoding does not decode
        return FALSE;
    }
    const bool refused = codec.refused && codec.refused(pvInfo);
    const BOOL encoded =
        codec.encode(kType, "1.2.3", pvInfo, CRYPT_ENCODE_ALLOC_FLAG, nullptr, &out->pb, &out->cb);
    std::free(pvInfo);
    if (refused) {
        if (encoded || mustDecode) __builtin_trap();
        return FALSE;
    }
    if (!encoded) __builtin_trap(); // a decoded structure that does not encode
    return TRUE;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || size > 1 << 16) return 0;
    const Codec &codec = kCodecs[data[0] % std::size(kCodecs)];
    const std::vector<BYTE> input(data + 1, data + size);
    Der first, second;
    if (!Reencode(codec, input.data(), static_cast<DWORD>(input.size()), &first, false)) return 0;
    Reencode(codec, first.pb, first.cb, &second, true);
    if (first.cb != second.cb || std::memcmp(first.pb, second.pb, first.cb) != 0) __builtin_trap();
    return 0;
}

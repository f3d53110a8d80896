// Every decode entry point of the library on the same input, in every delivery mode a host
// uses: whatever the bytes, a call returns TRUE or FALSE and stays inside its buffers.
#include "kvext/kvext.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using DecodeExFn = BOOL (*)(DWORD, LPCSTR, const BYTE *, DWORD, DWORD, PCRYPT_DECODE_PARA, void *,
                            DWORD *);

constexpr DecodeExFn kDecoders[] = {
    OrvaDllPrivateKeyUsagePeriodDecodeEx,   OrvaDllGostPrivateCertificateStoreDecodeEx,
    OrvaDllPrivateKeyDeriveCounterDecodeEx, OrvaDllSigningCertificateDecodeEx,
    OrvaDllSigningCertificateV2DecodeEx,    OrvaDllOtherSigningCertificateDecodeEx,
    OrvaDllCrlDistributionPointsDecodeEx,   OrvaDllIssuerSignToolDecodeEx,
};

void DecodeEveryWay(DecodeExFn decode, const BYTE *data, DWORD size)
{
    constexpr DWORD kType = X509_ASN_ENCODING;
    DWORD cbNeeded = 0;
    if (!decode(kType, "1.2.3", data, size, 0, nullptr, nullptr, &cbNeeded)) return;
    // A caller buffer of exactly the reported size: ASan sees any write past it.
    std::vector<BYTE> exact(cbNeeded);
    DWORD cbExact = cbNeeded;
    decode(kType, "1.2.3", data, size, 0, nullptr, exact.data(), &cbExact);
    void *pvAllocated = nullptr;
    DWORD cbAllocated = 0;
    if (decode(kType, "1.2.3", data, size, CRYPT_DECODE_ALLOC_FLAG, nullptr, &pvAllocated,
               &cbAllocated))
        std::free(pvAllocated);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > 1 << 16) return 0;
    // An exact-size copy, so that a read past the input is a read past an allocation.
    const std::vector<BYTE> input(data, data + size);
    for (DecodeExFn decode : kDecoders)
        DecodeEveryWay(decode, input.data(), static_cast<DWORD>(input.size()));
    return 0;
}

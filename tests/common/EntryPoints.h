// Calls a structure codec's four entry points the way a host does, in every delivery mode,
// and checks that the modes agree with each other and respect the caller's buffers.
#pragma once

#include <wincrypt.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace kvtest {

using EncodeExFn = BOOL (*)(DWORD, LPCSTR, const void *, DWORD, PCRYPT_ENCODE_PARA, void *,
                            DWORD *);
using EncodeFn = BOOL (*)(DWORD, LPCSTR, const void *, BYTE *, DWORD *);
using DecodeExFn = BOOL (*)(DWORD, LPCSTR, const BYTE *, DWORD, DWORD, PCRYPT_DECODE_PARA, void *,
                            DWORD *);
using DecodeFn = BOOL (*)(DWORD, LPCSTR, const BYTE *, DWORD, DWORD, void *, DWORD *);

struct CodecEntryPoints {
    EncodeExFn encodeEx; // null for decode-only structures
    EncodeFn encode;
    DecodeExFn decodeEx;
    DecodeFn decode;
};

constexpr DWORD kEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr LPCSTR kStructType = "1.2.643.2.2.99"; // never looked at by the library

// Length query, exact caller buffer (with guard bytes around it), allocation mode and the
// non-Ex form; every one must succeed and give the same DER, which is returned.
std::vector<BYTE> EncodeEveryWay(const CodecEntryPoints &codec, const void *pvStructInfo);

// A flat decode result in a block of its own (released with free()).
struct FreeDeleter {
    void operator()(void *pv) const { std::free(pv); }
};
using FlatResult = std::unique_ptr<void, FreeDeleter>;

// Length query, caller buffer of exactly the size (guard bytes around it; one byte short
// must fail with ERROR_MORE_DATA and leave it untouched), a larger buffer (exact size back),
// allocation mode and the non-Ex form. Returns the allocation-mode result and its size.
FlatResult DecodeEveryWay(const CodecEntryPoints &codec, const std::vector<BYTE> &der,
                          DWORD *pcbResult = nullptr);

// True when [p, p + cb) lies inside the result block.
bool InsideBlock(const void *block, DWORD cbBlock, const void *p, size_t cb);

// Decoding `der` fails with `expectedError` through DecodeEx and the non-Ex form.
void ExpectDecodeFailure(const CodecEntryPoints &codec, const std::vector<BYTE> &der,
                         DWORD expectedError);

} // namespace kvtest

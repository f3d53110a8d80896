// The encode/decode frame shared by every structure codec: argument checks, the call's
// ASN.1 context, CryptoAPI's output-buffer protocol, and helpers for nested work.
#pragma once

#include <asn1rt.h>
#include <wincrypt.h>

#include "frame/Trace.h"

#include <memory>

// Generated codecs as the frame calls them, on a type-erased value.
using EncodeFun = int (*)(Asn1Context *ctx, void *value, ASN1TagType tagging);
using DecodeFun = int (*)(Asn1Context *ctx, void *value, ASN1TagType tagging, int length);

// The three callbacks of a structure codec.
using FillAsn1cObjectFun = BOOL (*)(Asn1Context *ctx, const void *pvStructInfo, void *value);
using GetBufferSizeFun = BOOL (*)(Asn1Context *ctx, void *value, DWORD *pcbStructInfo);
using FillBufferFun = BOOL (*)(Asn1Context *ctx, void *value, void *pvBuffer, DWORD cbBuffer);

// asn1E_<Type> / asn1D_<Type> take their own value type; these adapters let the frame call
// them through EncodeFun / DecodeFun without a cast of the function pointer.
template <typename> struct Asn1EncoderTraits;
template <typename T> struct Asn1EncoderTraits<int (*)(Asn1Context *, T *, ASN1TagType)> {
    using Value = T;
};
template <typename> struct Asn1DecoderTraits;
template <typename T> struct Asn1DecoderTraits<int (*)(Asn1Context *, T *, ASN1TagType, int)> {
    using Value = T;
};
template <auto Encoder> int EncodeAs(Asn1Context *ctx, void *value, ASN1TagType tagging)
{
    using Value = typename Asn1EncoderTraits<decltype(Encoder)>::Value;
    return Encoder(ctx, static_cast<Value *>(value), tagging);
}
template <auto Decoder> int DecodeAs(Asn1Context *ctx, void *value, ASN1TagType tagging, int length)
{
    using Value = typename Asn1DecoderTraits<decltype(Decoder)>::Value;
    return Decoder(ctx, static_cast<Value *>(value), tagging, length);
}

BOOL ObjectEncodeEx(void *value, EncodeFun encodeFun, FillAsn1cObjectFun fillAsn1cObject,
                    DWORD dwCertEncodingType, LPCSTR lpszStructType, const void *pvStructInfo,
                    DWORD dwFlags, PCRYPT_ENCODE_PARA pEncodePara, void *pvEncoded,
                    DWORD *pcbEncoded);
BOOL ObjectDecodeEx(void *value, DecodeFun decodeFun, GetBufferSizeFun getBufferSize,
                    FillBufferFun fillBuffer, DWORD dwCertEncodingType, LPCSTR lpszStructType,
                    const BYTE *pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                    PCRYPT_DECODE_PARA pDecodePara, void *pvStructInfo, DWORD *pcbStructInfo);

BOOL ValidateCommonEncodeObjectParameterList(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                             const void *pvStructInfo, DWORD dwFlags,
                                             const void *pvEncoded, const DWORD *pcbEncoded);
BOOL ValidateCommonDecodeObjectParameterList(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                             const BYTE *pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                                             const void *pvStructInfo, const DWORD *pcbStructInfo);
// Takes the caller's pair only when both functions are given; otherwise the default pair.
void SelectMemoryFunctionsToUse(PFN_CRYPT_ALLOC pfnAlloc, PFN_CRYPT_FREE pfnFree,
                                PFN_CRYPT_ALLOC *ppfnAllocToUse, PFN_CRYPT_FREE *ppfnFreeToUse);
BOOL InitializeAsn1cContext(Asn1Context *ctx);
// The untraced core of InitializeAsn1cContext: zero-fills the context and returns the runtime's
// status, 0 when it is ready.
int OpenAsn1cContext(Asn1Context *ctx);
// Releases a context on every path out of its owner.
using ContextGuard = std::unique_ptr<Asn1Context, decltype(&rtFreeContext)>;

// Nested work inside the caller's context. Encodings live until the next encode on the
// context (Asn1cObjectEncode) or until the context is released (the ContextAlloc forms).
BOOL Asn1cObjectEncode(Asn1Context *ctx, void *value, EncodeFun encodeFun, DWORD *pcbEncoded);
BOOL Asn1cObjectDecode(Asn1Context *ctx, const BYTE *pbEncoded, DWORD cbEncoded, void *value,
                       DecodeFun decodeFun);
// Points the context's decoder at `cb` bytes; the runtime's status, 0 on success. No bytes,
// or more than the runtime counts, cannot be one of our values.
int SetDecodeInput(Asn1Context *ctx, const BYTE *pb, DWORD cb);

// Nested work for callers that report a failure in their own words: the same steps as
// Asn1cObjectDecode and Asn1cObjectEncode, without their trace lines and codes.
template <typename Value>
bool DecodeQuietly(Asn1Context *ctx, const CRYPT_DER_BLOB &der, Value *value,
                   int (*decoder)(Asn1Context *, Value *, ASN1TagType, int))
{
    return SetDecodeInput(ctx, der.pbData, der.cbData) == 0 &&
           decoder(ctx, value, ASN1EXPL, 0) == 0;
}
template <typename Value>
bool EncodeQuietly(Asn1Context *ctx, Value *value,
                   int (*encoder)(Asn1Context *, Value *, ASN1TagType), DWORD *pcbEncoded)
{
    if (xe_setp(ctx, nullptr, 0) != 0) return false;
    const int length = encoder(ctx, value, ASN1EXPL);
    if (length <= 0) return false;
    *pcbEncoded = static_cast<DWORD>(length);
    return true;
}

BOOL Asn1cObjectEncodeContextAlloc(Asn1Context *ctx, void *value, EncodeFun encodeFun,
                                   BYTE **ppbEncoded, DWORD *pcbEncoded);
BOOL CryptEncodeObjectContextAlloc(Asn1Context *ctx, DWORD dwCertEncodingType,
                                   LPCSTR lpszStructType, const void *pvStructInfo,
                                   BYTE **ppbEncoded, DWORD *pcbEncoded);
BOOL CryptDecodeObjectContextAlloc(Asn1Context *ctx, DWORD dwCertEncodingType,
                                   LPCSTR lpszStructType, const BYTE *pbEncoded, DWORD cbEncoded,
                                   DWORD dwFlags, void **ppvStructInfo);

// A zeroed block of `cb` bytes from the context heap; null after tracing `message` at `site`
// and setting NTE_NO_MEMORY.
void *ContextAlloc(TraceSite site, Asn1Context *ctx, size_t cb, const char *message);
// The same, not zeroed, for a block the caller writes in full.
void *ContextAllocToWrite(TraceSite site, Asn1Context *ctx, size_t cb, const char *message);
template <typename T> T *ContextNew(TraceSite site, Asn1Context *ctx, const char *message)
{
    return static_cast<T *>(ContextAlloc(site, ctx, sizeof(T), message));
}
// A zeroed list node with its element, from the context heap; null after tracing
// "ALLOC_ASN1ELEMDNODE() failed" at `site`. rtDListAppendNode then cannot fail.
void *NewListElement(TraceSite site, Asn1Context *ctx, size_t cbElement);
template <typename T> T *NewListElement(TraceSite site, Asn1Context *ctx)
{
    return static_cast<T *>(NewListElement(site, ctx, sizeof(T)));
}

// The bodies of the four exported wrappers of a structure. Each wrapper zero-fills the
// value of its top-level type on its own stack and hands the frame its codec and callbacks.
template <typename Value, auto Encoder, FillAsn1cObjectFun Fill>
BOOL EncodeStructEx(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void *pvStructInfo,
                    DWORD dwFlags, PCRYPT_ENCODE_PARA pEncodePara, void *pvEncoded,
                    DWORD *pcbEncoded)
{
    Value value{};
    return ObjectEncodeEx(&value, EncodeAs<Encoder>, Fill, dwCertEncodingType, lpszStructType,
                          pvStructInfo, dwFlags, pEncodePara, pvEncoded, pcbEncoded);
}

template <typename Value, auto Decoder, GetBufferSizeFun GetSize, FillBufferFun Fill>
BOOL DecodeStructEx(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE *pbEncoded,
                    DWORD cbEncoded, DWORD dwFlags, PCRYPT_DECODE_PARA pDecodePara,
                    void *pvStructInfo, DWORD *pcbStructInfo)
{
    Value value{};
    return ObjectDecodeEx(&value, DecodeAs<Decoder>, GetSize, Fill, dwCertEncodingType,
                          lpszStructType, pbEncoded, cbEncoded, dwFlags, pDecodePara, pvStructInfo,
                          pcbStructInfo);
}

// The non-Ex decode form has no allocation mode: it refuses CRYPT_DECODE_ALLOC_FLAG under
// the entry point's own name and line (`entryPoint`). TRUE when the call may go on.
BOOL CheckDecodeFlagsWithoutEx(TraceSite entryPoint, DWORD dwFlags);

// CryptEncodeObject(Ex) / CryptDecodeObject(Ex). X509_MULTI_BYTE_INTEGER is built in; every
// other structure type goes to the function registered for its encoding type and OID (or
// numeric type). The Ex calls try the Ex set first and fall back on the other set, the others
// the reverse, so a library that provides only one form serves both. A type nobody registered
// fails with ERROR_FILE_NOT_FOUND, as the host's lookup of an encode/decode function does.
//
// Output protocol of the built-in codec: a null output buffer asks for the size, which comes back
// in the size argument; a buffer that is too small fails with ERROR_MORE_DATA and the size needed;
// otherwise the result is written and the size argument receives the octets used.
// Success leaves the last error alone.
//
// Malformed input to the decoder fails with the host's ASN.1 codes: CRYPT_E_ASN1_BADTAG when
// the element is not a primitive INTEGER, CRYPT_E_ASN1_EOD when the input ends inside it,
// CRYPT_E_ASN1_CORRUPT for an indefinite length and CRYPT_E_ASN1_LARGE for a length of more
// than four octets. Long-form lengths that are not minimal, content that is not minimal and
// octets after the element are accepted, as the host's BER decoder accepts them.
#include "IntegerCodec.h"
#include "OidFunc.h"
#include "Trace.h"
#include "wincrypt.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD kStatusAccessViolation = 0xC0000005; // what the host reports for a null structure

// The certificate encoding type is used when one is given, otherwise the message encoding
// type; either way it must be ASN.1 (X509_ASN_ENCODING, PKCS_7_ASN_ENCODING).
bool IsAsnEncoding(DWORD dwEncodingType)
{
    const DWORD certType = dwEncodingType & CERT_ENCODING_TYPE_MASK;
    const DWORD msgType = (dwEncodingType & CMSG_ENCODING_TYPE_MASK) >> 16;
    return (certType ? certType : msgType) == X509_ASN_ENCODING;
}

// Predefined structure types are small integers passed as pointers; never dereferenced.
bool IsMultiByteInteger(LPCSTR lpszStructType)
{
    return reinterpret_cast<uintptr_t>(lpszStructType) ==
           reinterpret_cast<uintptr_t>(X509_MULTI_BYTE_INTEGER);
}

bool HasCodec(DWORD dwEncodingType, LPCSTR lpszStructType)
{
    return IsAsnEncoding(dwEncodingType) && IsMultiByteInteger(lpszStructType);
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// The size query and short-buffer part of the output protocol. TRUE with *write set when the
// caller's buffer takes `cbNeeded` octets.
BOOL ReserveOutput(const void *pvOut, DWORD *pcbOut, size_t cbNeeded, bool *write)
{
    *write = false;
    if (cbNeeded > UINT32_MAX) return Fail(kvcapi::kAsn1Large);
    const auto cb = static_cast<DWORD>(cbNeeded);
    const DWORD cbGiven = *pcbOut;
    *pcbOut = cb;
    if (!pvOut) return TRUE;
    if (cbGiven < cb) return Fail(ERROR_MORE_DATA);
    *write = true;
    return TRUE;
}

BOOL EncodeMultiByteInteger(const CRYPT_INTEGER_BLOB *blob, BYTE *pbEncoded, DWORD *pcbEncoded)
{
    if (!blob || (blob->cbData && !blob->pbData)) return Fail(kStatusAccessViolation);
    const std::span<const BYTE> value(blob->pbData, blob->cbData);
    bool write = false;
    if (!ReserveOutput(pbEncoded, pcbEncoded, kvcapi::MultiByteIntegerDerSize(value), &write))
        return FALSE;
    if (write) kvcapi::WriteMultiByteIntegerDer(value, pbEncoded);
    return TRUE;
}

// Flat result: the CRYPT_INTEGER_BLOB, then its octets, least significant first. The
// structure is copied in with memcpy, so any alignment of the caller's buffer is accepted.
void WriteIntegerBlob(std::span<const BYTE> bigEndian, BYTE *out)
{
    BYTE *const data = out + sizeof(CRYPT_INTEGER_BLOB);
    const CRYPT_INTEGER_BLOB blob = {static_cast<DWORD>(bigEndian.size()), data};
    std::memcpy(out, &blob, sizeof blob);
    for (size_t i = 0; i < bigEndian.size(); ++i)
        data[i] = bigEndian[bigEndian.size() - 1 - i];
}

BOOL DecodeMultiByteInteger(std::span<const BYTE> der, BYTE *pvStructInfo, DWORD *pcbStructInfo)
{
    std::span<const BYTE> content;
    if (const DWORD status = kvcapi::ParseIntegerContent(der, &content)) return Fail(status);
    bool write = false;
    if (!ReserveOutput(pvStructInfo, pcbStructInfo, sizeof(CRYPT_INTEGER_BLOB) + content.size(),
                       &write))
        return FALSE;
    if (write) WriteIntegerBlob(content, pvStructInfo);
    return TRUE;
}

using EncodeExFunc = BOOL(WINAPI *)(DWORD, LPCSTR, const void *, DWORD, PCRYPT_ENCODE_PARA, void *,
                                    DWORD *);
using EncodeFunc = BOOL(WINAPI *)(DWORD, LPCSTR, const void *, BYTE *, DWORD *);
using DecodeExFunc = BOOL(WINAPI *)(DWORD, LPCSTR, const BYTE *, DWORD, DWORD, PCRYPT_DECODE_PARA,
                                    void *, DWORD *);
using DecodeFunc = BOOL(WINAPI *)(DWORD, LPCSTR, const BYTE *, DWORD, DWORD, void *, DWORD *);

BOOL WINAPI BuiltinEncode(DWORD, LPCSTR, const void *pvStructInfo, BYTE *pbEncoded,
                          DWORD *pcbEncoded)
{
    return EncodeMultiByteInteger(static_cast<const CRYPT_INTEGER_BLOB *>(pvStructInfo), pbEncoded,
                                  pcbEncoded);
}

BOOL WINAPI BuiltinDecode(DWORD, LPCSTR, const BYTE *pbEncoded, DWORD cbEncoded, DWORD,
                          void *pvStructInfo, DWORD *pcbStructInfo)
{
    if (!pbEncoded) cbEncoded = 0; // nothing to read: the decoder reports the end of data
    return DecodeMultiByteInteger(std::span(pbEncoded, cbEncoded),
                                  static_cast<BYTE *>(pvStructInfo), pcbStructInfo);
}

// The allocator pair of a complete para (cbSize covering both pointers, both set), else the
// C heap: what LocalAlloc/LocalFree are on this platform.
template <typename Para> PFN_CRYPT_ALLOC AllocOf(const Para *para)
{
    return para && para->cbSize >= sizeof(Para) && para->pfnAlloc && para->pfnFree ? para->pfnAlloc
                                                                                   : nullptr;
}

template <typename Para> BYTE *AllocateBlock(const Para *para, DWORD cb)
{
    if (PFN_CRYPT_ALLOC alloc = AllocOf(para)) return static_cast<BYTE *>(alloc(cb));
    return static_cast<BYTE *>(std::calloc(1, cb ? cb : 1));
}

template <typename Para> void FreeBlock(const Para *para, BYTE *block)
{
    if (AllocOf(para))
        para->pfnFree(block);
    else
        std::free(block);
}

// A function of the non-Ex form serving an Ex call: in allocation mode the size first, then
// a block of that size, released again when the second call fails.
template <typename Para, typename Call>
BOOL CallIntoBlock(DWORD dwFlags, DWORD allocFlag, const Para *para, void *pvOut, DWORD *pcbOut,
                   Call call)
{
    if (!(dwFlags & allocFlag)) return call(static_cast<BYTE *>(pvOut), pcbOut);
    DWORD cb = 0;
    if (!call(nullptr, &cb)) return FALSE;
    BYTE *block = AllocateBlock(para, cb);
    if (!block) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    if (!call(block, &cb)) {
        FreeBlock(para, block);
        return FALSE;
    }
    *static_cast<BYTE **>(pvOut) = block;
    *pcbOut = cb;
    return TRUE;
}

// What to report when neither set gave a function: the registry traced its own failures, so
// only "nothing registered" gets a line here.
BOOL FailNotRegistered(LPCSTR caller, DWORD firstError, DWORD dwEncodingType, LPCSTR type)
{
    const DWORD reported = firstError != ERROR_FILE_NOT_FOUND ? firstError : GetLastError();
    if (reported == ERROR_FILE_NOT_FOUND)
        KVCAPI_TRACE_ERROR("%s: no function registered for %s, encoding type 0x%X, in %s", caller,
                           kvcapi::OidKey(type).c_str(), dwEncodingType,
                           kvcapi::RegistrationFilePath().c_str());
    return Fail(reported);
}

// The function of set `first`, else of set `second`; null when neither has one, with
// *firstError the first lookup's failure. A registration that is there but does not load, or
// a registration file that cannot be read, ends the search: that is the caller's answer.
void *FindEither(LPCSTR first, LPCSTR second, DWORD dwEncodingType, LPCSTR type, bool *fromFirst,
                 DWORD *firstError, kvcapi::OidFunctionAddress *hold)
{
    *fromFirst = true;
    if (void *function = kvcapi::FindOidFunction(first, dwEncodingType, type, hold))
        return function;
    *firstError = GetLastError();
    if (*firstError != ERROR_FILE_NOT_FOUND) return nullptr;
    *fromFirst = false;
    return kvcapi::FindOidFunction(second, dwEncodingType, type, hold);
}

} // namespace

extern "C" {

BOOL WINAPI CryptEncodeObjectEx(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                const void *pvStructInfo, DWORD dwFlags,
                                PCRYPT_ENCODE_PARA pEncodePara, void *pvEncoded, DWORD *pcbEncoded)
{
    if (!pcbEncoded || ((dwFlags & CRYPT_ENCODE_ALLOC_FLAG) && !pvEncoded))
        return Fail(ERROR_INVALID_PARAMETER);
    if (dwFlags & CRYPT_ENCODE_ALLOC_FLAG) *static_cast<BYTE **>(pvEncoded) = nullptr;
    const auto viaPlain = [&](EncodeFunc encode) {
        return CallIntoBlock(dwFlags, CRYPT_ENCODE_ALLOC_FLAG, pEncodePara, pvEncoded, pcbEncoded,
                             [&](BYTE *out, DWORD *pcb) {
                                 return encode(dwCertEncodingType, lpszStructType, pvStructInfo,
                                               out, pcb);
                             });
    };
    if (HasCodec(dwCertEncodingType, lpszStructType)) return viaPlain(BuiltinEncode);
    kvcapi::OidFunctionAddress hold;
    bool isEx = false;
    DWORD firstError = 0;
    void *function = FindEither(CRYPT_OID_ENCODE_OBJECT_EX_FUNC, CRYPT_OID_ENCODE_OBJECT_FUNC,
                                dwCertEncodingType, lpszStructType, &isEx, &firstError, &hold);
    if (!function)
        return FailNotRegistered(__func__, firstError, dwCertEncodingType, lpszStructType);
    if (!isEx) return viaPlain(reinterpret_cast<EncodeFunc>(function));
    return reinterpret_cast<EncodeExFunc>(function)(dwCertEncodingType, lpszStructType,
                                                    pvStructInfo, dwFlags, pEncodePara, pvEncoded,
                                                    pcbEncoded);
}

BOOL WINAPI CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                              const void *pvStructInfo, BYTE *pbEncoded, DWORD *pcbEncoded)
{
    if (!pcbEncoded) return Fail(ERROR_INVALID_PARAMETER);
    if (HasCodec(dwCertEncodingType, lpszStructType))
        return BuiltinEncode(dwCertEncodingType, lpszStructType, pvStructInfo, pbEncoded,
                             pcbEncoded);
    kvcapi::OidFunctionAddress hold;
    bool isPlain = false;
    DWORD firstError = 0;
    void *function = FindEither(CRYPT_OID_ENCODE_OBJECT_FUNC, CRYPT_OID_ENCODE_OBJECT_EX_FUNC,
                                dwCertEncodingType, lpszStructType, &isPlain, &firstError, &hold);
    if (!function)
        return FailNotRegistered(__func__, firstError, dwCertEncodingType, lpszStructType);
    if (isPlain)
        return reinterpret_cast<EncodeFunc>(function)(dwCertEncodingType, lpszStructType,
                                                      pvStructInfo, pbEncoded, pcbEncoded);
    return reinterpret_cast<EncodeExFunc>(function)(
        dwCertEncodingType, lpszStructType, pvStructInfo, 0, nullptr, pbEncoded, pcbEncoded);
}

BOOL WINAPI CryptDecodeObjectEx(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                const BYTE *pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                                PCRYPT_DECODE_PARA pDecodePara, void *pvStructInfo,
                                DWORD *pcbStructInfo)
{
    if (!pcbStructInfo || ((dwFlags & CRYPT_DECODE_ALLOC_FLAG) && !pvStructInfo))
        return Fail(ERROR_INVALID_PARAMETER);
    if (dwFlags & CRYPT_DECODE_ALLOC_FLAG) *static_cast<BYTE **>(pvStructInfo) = nullptr;
    const auto viaPlain = [&](DecodeFunc decode) {
        return CallIntoBlock(dwFlags, CRYPT_DECODE_ALLOC_FLAG, pDecodePara, pvStructInfo,
                             pcbStructInfo, [&](BYTE *out, DWORD *pcb) {
                                 return decode(dwCertEncodingType, lpszStructType, pbEncoded,
                                               cbEncoded, dwFlags & ~CRYPT_DECODE_ALLOC_FLAG, out,
                                               pcb);
                             });
    };
    if (HasCodec(dwCertEncodingType, lpszStructType)) return viaPlain(BuiltinDecode);
    kvcapi::OidFunctionAddress hold;
    bool isEx = false;
    DWORD firstError = 0;
    void *function = FindEither(CRYPT_OID_DECODE_OBJECT_EX_FUNC, CRYPT_OID_DECODE_OBJECT_FUNC,
                                dwCertEncodingType, lpszStructType, &isEx, &firstError, &hold);
    if (!function)
        return FailNotRegistered(__func__, firstError, dwCertEncodingType, lpszStructType);
    if (!isEx) return viaPlain(reinterpret_cast<DecodeFunc>(function));
    return reinterpret_cast<DecodeExFunc>(function)(dwCertEncodingType, lpszStructType, pbEncoded,
                                                    cbEncoded, dwFlags, pDecodePara, pvStructInfo,
                                                    pcbStructInfo);
}

// dwFlags is passed on; the built-in codec does not examine it (the result is always copied).
BOOL WINAPI CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                              const BYTE *pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                              void *pvStructInfo, DWORD *pcbStructInfo)
{
    if (!pcbStructInfo) return Fail(ERROR_INVALID_PARAMETER);
    if (HasCodec(dwCertEncodingType, lpszStructType))
        return BuiltinDecode(dwCertEncodingType, lpszStructType, pbEncoded, cbEncoded, dwFlags,
                             pvStructInfo, pcbStructInfo);
    kvcapi::OidFunctionAddress hold;
    bool isPlain = false;
    DWORD firstError = 0;
    void *function = FindEither(CRYPT_OID_DECODE_OBJECT_FUNC, CRYPT_OID_DECODE_OBJECT_EX_FUNC,
                                dwCertEncodingType, lpszStructType, &isPlain, &firstError, &hold);
    if (!function)
        return FailNotRegistered(__func__, firstError, dwCertEncodingType, lpszStructType);
    dwFlags &= ~CRYPT_DECODE_ALLOC_FLAG; // the caller's buffer is always the output here
    if (isPlain)
        return reinterpret_cast<DecodeFunc>(function)(dwCertEncodingType, lpszStructType, pbEncoded,
                                                      cbEncoded, dwFlags, pvStructInfo,
                                                      pcbStructInfo);
    return reinterpret_cast<DecodeExFunc>(function)(dwCertEncodingType, lpszStructType, pbEncoded,
                                                    cbEncoded, dwFlags, nullptr, pvStructInfo,
                                                    pcbStructInfo);
}

LPVOID WINAPI LocalFree(LPVOID hMem)
{
    std::free(hMem);
    return nullptr;
}

} // extern "C"

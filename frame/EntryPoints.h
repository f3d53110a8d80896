// Defines the exported wrappers of one structure codec. Every wrapper has the published
// CryptoAPI prototype and parameter names; each zero-fills the ASN.1 value of its top-level
// type and hands the frame that type's codec and the structure's callbacks. The non-Ex
// encode forwards without flags or encode parameters; the non-Ex decode refuses the
// allocation flag under its own name and forwards without decode parameters. Each wrapper is
// checked against the CryptoAPI prototype it is installed under, so a drifting signature
// fails to build.
#pragma once

#include "frame/AsnObject.h"
#include "kvext/kvext.h"

#include <type_traits>

using CryptEncodeObjectExFn = BOOL(DWORD, LPCSTR, const void *, DWORD, PCRYPT_ENCODE_PARA, void *,
                                   DWORD *);
using CryptEncodeObjectFn = BOOL(DWORD, LPCSTR, const void *, BYTE *, DWORD *);
using CryptDecodeObjectExFn = BOOL(DWORD, LPCSTR, const BYTE *, DWORD, DWORD, PCRYPT_DECODE_PARA,
                                   void *, DWORD *);
using CryptDecodeObjectFn = BOOL(DWORD, LPCSTR, const BYTE *, DWORD, DWORD, void *, DWORD *);

#define KV_DEFINE_ENCODE_ENTRY_POINTS(Struct, Value, encodeFun, fillAsn1cObject)                   \
    extern "C" BOOL WINAPI OrvaDll##Struct##EncodeEx(                                              \
        DWORD dwCertEncodingType, LPCSTR lpszStructType, const void *pvStructInfo, DWORD dwFlags,  \
        PCRYPT_ENCODE_PARA pEncodePara, void *pvEncoded, DWORD *pcbEncoded)                        \
    {                                                                                              \
        return EncodeStructEx<Value, encodeFun, fillAsn1cObject>(                                  \
            dwCertEncodingType, lpszStructType, pvStructInfo, dwFlags, pEncodePara, pvEncoded,     \
            pcbEncoded);                                                                           \
    }                                                                                              \
    extern "C" BOOL WINAPI OrvaDll##Struct##Encode(                                                \
        DWORD dwCertEncodingType, LPCSTR lpszStructType, const void *pvStructInfo,                 \
        BYTE *pbEncoded, DWORD *pcbEncoded)                                                        \
    {                                                                                              \
        return OrvaDll##Struct##EncodeEx(dwCertEncodingType, lpszStructType, pvStructInfo, 0,      \
                                         nullptr, pbEncoded, pcbEncoded);                          \
    }                                                                                              \
    static_assert(std::is_same_v<decltype(OrvaDll##Struct##EncodeEx), CryptEncodeObjectExFn>);     \
    static_assert(std::is_same_v<decltype(OrvaDll##Struct##Encode), CryptEncodeObjectFn>);

#define KV_DEFINE_DECODE_ENTRY_POINTS(Struct, Value, decodeFun, getBufferSize, fillBuffer)         \
    extern "C" BOOL WINAPI OrvaDll##Struct##DecodeEx(                                              \
        DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE *pbEncoded, DWORD cbEncoded,   \
        DWORD dwFlags, PCRYPT_DECODE_PARA pDecodePara, void *pvStructInfo, DWORD *pcbStructInfo)   \
    {                                                                                              \
        return DecodeStructEx<Value, decodeFun, getBufferSize, fillBuffer>(                        \
            dwCertEncodingType, lpszStructType, pbEncoded, cbEncoded, dwFlags, pDecodePara,        \
            pvStructInfo, pcbStructInfo);                                                          \
    }                                                                                              \
    extern "C" BOOL WINAPI OrvaDll##Struct##Decode(                                                \
        DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE *pbEncoded, DWORD cbEncoded,   \
        DWORD dwFlags, void *pvStructInfo, DWORD *pcbStructInfo)                                   \
    {                                                                                              \
        if (!CheckDecodeFlagsWithoutEx(KV_HERE, dwFlags)) return FALSE;                            \
        return OrvaDll##Struct##DecodeEx(dwCertEncodingType, lpszStructType, pbEncoded, cbEncoded, \
                                         dwFlags, nullptr, pvStructInfo, pcbStructInfo);           \
    }                                                                                              \
    static_assert(std::is_same_v<decltype(OrvaDll##Struct##DecodeEx), CryptDecodeObjectExFn>);     \
    static_assert(std::is_same_v<decltype(OrvaDll##Struct##Decode), CryptDecodeObjectFn>);

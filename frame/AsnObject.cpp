#include "frame/AsnObject.h"

#include "frame/FlatLayout.h"
#include "frame/Memory.h"

#include <cstring>
#include <limits>
#include <memory>

namespace {

LPVOID WINAPI DefaultAlloc(size_t cbSize)
{
    return KVSUPAllocMemory(cbSize);
}
void WINAPI DefaultFree(LPVOID pv)
{
    KVSUPFreeMemory(pv);
}

// The memory pair for a block handed to the caller.
struct MemoryPair {
    PFN_CRYPT_ALLOC pfnAlloc = DefaultAlloc;
    PFN_CRYPT_FREE pfnFree = DefaultFree;
};

// CRYPT_ENCODE_PARA and CRYPT_DECODE_PARA share their layout; only a complete record counts.
template <typename Para> MemoryPair MemoryPairFrom(const Para *pPara)
{
    MemoryPair pair;
    if (pPara && pPara->cbSize == sizeof(Para))
        SelectMemoryFunctionsToUse(pPara->pfnAlloc, pPara->pfnFree, &pair.pfnAlloc, &pair.pfnFree);
    return pair;
}

// Length query, allocation mode or caller buffer for a finished encoding.
BOOL DeliverEncoding(TraceSite site, const BYTE *pbDer, DWORD cbDer, DWORD dwFlags,
                     const MemoryPair &memory, void *pvEncoded, DWORD *pcbEncoded)
{
    if (!pvEncoded) {
        *pcbEncoded = cbDer;
        return TRUE;
    }
    if (dwFlags & CRYPT_ENCODE_ALLOC_FLAG) {
        auto *pbBlock = static_cast<BYTE *>(memory.pfnAlloc(cbDer));
        if (!pbBlock) return KV_FAIL_AT(site, NTE_NO_MEMORY, "pfnAlloc() failed");
        std::memcpy(pbBlock, pbDer, cbDer);
        *static_cast<BYTE **>(pvEncoded) = pbBlock;
        *pcbEncoded = cbDer;
        return TRUE;
    }
    if (*pcbEncoded < cbDer) {
        *pcbEncoded = cbDer;
        return KV_FAIL_AT(site, ERROR_MORE_DATA, "pvEncoded length is too small");
    }
    std::memcpy(pvEncoded, pbDer, cbDer);
    *pcbEncoded = cbDer;
    return TRUE;
}

// Lays the flat result into a fresh block of the selected allocator.
BOOL DeliverAllocated(TraceSite site, Asn1Context *ctx, void *value, FillBufferFun fillBuffer,
                      DWORD cbNeeded, const MemoryPair &memory, void *pvStructInfo,
                      DWORD *pcbStructInfo)
{
    void *pvBlock = memory.pfnAlloc(cbNeeded);
    if (!pvBlock) return KV_FAIL_AT(site, NTE_NO_MEMORY, "pfnAlloc() failed");
    if (!fillBuffer(ctx, value, pvBlock, cbNeeded)) {
        const DWORD dwError = GetLastError(); // the callback's code is the caller's answer
        memory.pfnFree(pvBlock);
        return FailWith(dwError);
    }
    *static_cast<void **>(pvStructInfo) = pvBlock;
    *pcbStructInfo = cbNeeded;
    return TRUE;
}

// Length query, allocation mode or caller buffer for a decoded value of known flat size.
BOOL DeliverDecoded(TraceSite site, Asn1Context *ctx, void *value, FillBufferFun fillBuffer,
                    DWORD cbNeeded, DWORD dwFlags, const MemoryPair &memory, void *pvStructInfo,
                    DWORD *pcbStructInfo)
{
    if (!pvStructInfo) {
        *pcbStructInfo = cbNeeded;
        return TRUE;
    }
    if (dwFlags & CRYPT_DECODE_ALLOC_FLAG)
        return DeliverAllocated(site, ctx, value, fillBuffer, cbNeeded, memory, pvStructInfo,
                                pcbStructInfo);
    if (*pcbStructInfo < cbNeeded) {
        *pcbStructInfo = cbNeeded;
        return KV_FAIL_AT(site, ERROR_MORE_DATA, "pvStructInfo length is too small");
    }
    if (!fillBuffer(ctx, value, pvStructInfo, cbNeeded)) return FALSE;
    *pcbStructInfo = cbNeeded;
    return TRUE;
}

// The first two checks, shared by encode and decode; traced under the validator's name.
BOOL ValidateEncodingAndStructType(TraceSite validator, DWORD dwCertEncodingType,
                                   LPCSTR lpszStructType)
{
    if (!(dwCertEncodingType & X509_ASN_ENCODING))
        return KV_FAIL_AT(validator, ERROR_INVALID_PARAMETER,
                          "Unsupported encoding !(X509_ASN_ENCODING&dwCertEncodingType)");
    if (!lpszStructType)
        return KV_FAIL_AT(validator, ERROR_INVALID_PARAMETER,
                          "Unsupported struct type !lpszStructType");
    return TRUE;
}

} // namespace

BOOL ValidateCommonEncodeObjectParameterList(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                             const void *pvStructInfo, DWORD dwFlags,
                                             const void *pvEncoded, const DWORD *pcbEncoded)
{
    if (!ValidateEncodingAndStructType(KV_HERE, dwCertEncodingType, lpszStructType)) return FALSE;
    if (!pvStructInfo) return KV_FAIL(ERROR_INVALID_PARAMETER, "pvStructInfo is 0");
    if (dwFlags & ~static_cast<DWORD>(CRYPT_ENCODE_ALLOC_FLAG))
        return KV_FAIL(NTE_BAD_FLAGS,
                       "Unsupported dwFlags (%ld), only CRYPT_ENCODE_ALLOC_FLAG is allowed",
                       static_cast<long>(dwFlags));
    if ((dwFlags & CRYPT_ENCODE_ALLOC_FLAG) && !pvEncoded)
        return KV_FAIL(ERROR_INVALID_PARAMETER,
                       "CRYPT_ENCODE_ALLOC_FLAG is set but pvEncoded is 0");
    if (!pcbEncoded) return KV_FAIL(ERROR_INVALID_PARAMETER, "pcbEncoded is 0");
    return TRUE;
}

BOOL ValidateCommonDecodeObjectParameterList(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                             const BYTE *pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                                             const void *pvStructInfo, const DWORD *pcbStructInfo)
{
    if (!ValidateEncodingAndStructType(KV_HERE, dwCertEncodingType, lpszStructType)) return FALSE;
    if (!pbEncoded || !cbEncoded)
        return KV_FAIL(ERROR_INVALID_PARAMETER, "Encoded data is not supplied");
    if (dwFlags & ~static_cast<DWORD>(CRYPT_DECODE_ALLOC_FLAG))
        return KV_FAIL(NTE_BAD_FLAGS,
                       "Unsupported dwFlags (%ld), only CRYPT_DECODE_ALLOC_FLAG is allowed",
                       static_cast<long>(dwFlags));
    if ((dwFlags & CRYPT_DECODE_ALLOC_FLAG) && !pvStructInfo)
        return KV_FAIL(ERROR_INVALID_PARAMETER,
                       "CRYPT_DECODE_ALLOC_FLAG is set but pvStructInfo is 0");
    if (!pcbStructInfo) return KV_FAIL(ERROR_INVALID_PARAMETER, "pcbStructInfo is 0");
    return TRUE;
}

void SelectMemoryFunctionsToUse(PFN_CRYPT_ALLOC pfnAlloc, PFN_CRYPT_FREE pfnFree,
                                PFN_CRYPT_ALLOC *ppfnAllocToUse, PFN_CRYPT_FREE *ppfnFreeToUse)
{
    const bool callerPairComplete = pfnAlloc && pfnFree;
    *ppfnAllocToUse = callerPairComplete ? pfnAlloc : DefaultAlloc;
    *ppfnFreeToUse = callerPairComplete ? pfnFree : DefaultFree;
}

int OpenAsn1cContext(Asn1Context *ctx)
{
    std::memset(ctx, 0, sizeof *ctx);
    return rtInitContext(ctx, nullptr);
}

BOOL InitializeAsn1cContext(Asn1Context *ctx)
{
    const int status = OpenAsn1cContext(ctx);
    if (status != 0)
        return KV_FAIL(CRYPT_E_ASN1_ERROR, "call to rtInitContext() failed, result = %d", status);
    return TRUE;
}

BOOL ObjectEncodeEx(void *value, EncodeFun encodeFun, FillAsn1cObjectFun fillAsn1cObject,
                    DWORD dwCertEncodingType, LPCSTR lpszStructType, const void *pvStructInfo,
                    DWORD dwFlags, PCRYPT_ENCODE_PARA pEncodePara, void *pvEncoded,
                    DWORD *pcbEncoded)
{
    if (!ValidateCommonEncodeObjectParameterList(dwCertEncodingType, lpszStructType, pvStructInfo,
                                                 dwFlags, pvEncoded, pcbEncoded))
        return FALSE;
    const MemoryPair memory = MemoryPairFrom(pEncodePara);

    Asn1Context ctx;
    if (!InitializeAsn1cContext(&ctx)) return FALSE;
    ContextGuard releaseCtx(&ctx, rtFreeContext);

    DWORD cbEncoded = 0;
    if (!fillAsn1cObject(&ctx, pvStructInfo, value) ||
        !Asn1cObjectEncode(&ctx, value, encodeFun, &cbEncoded))
        return FALSE;
    return DeliverEncoding(KV_HERE, xe_getp(&ctx), cbEncoded, dwFlags, memory, pvEncoded,
                           pcbEncoded);
}

BOOL ObjectDecodeEx(void *value, DecodeFun decodeFun, GetBufferSizeFun getBufferSize,
                    FillBufferFun fillBuffer, DWORD dwCertEncodingType, LPCSTR lpszStructType,
                    const BYTE *pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                    PCRYPT_DECODE_PARA pDecodePara, void *pvStructInfo, DWORD *pcbStructInfo)
{
    DWORD cbNeeded = 0;
    if (!ValidateCommonDecodeObjectParameterList(dwCertEncodingType, lpszStructType, pbEncoded,
                                                 cbEncoded, dwFlags, pvStructInfo, pcbStructInfo))
        return FALSE;
    const MemoryPair memory = MemoryPairFrom(pDecodePara);

    Asn1Context ctx;
    if (!InitializeAsn1cContext(&ctx)) return FALSE;
    ContextGuard releaseCtx(&ctx, rtFreeContext);

    if (!Asn1cObjectDecode(&ctx, pbEncoded, cbEncoded, value, decodeFun) ||
        !getBufferSize(&ctx, value, &cbNeeded))
        return FALSE;
    return DeliverDecoded(KV_HERE, &ctx, value, fillBuffer, cbNeeded, dwFlags, memory, pvStructInfo,
                          pcbStructInfo);
}

BOOL Asn1cObjectEncode(Asn1Context *ctx, void *value, EncodeFun encodeFun, DWORD *pcbEncoded)
{
    const int status = xe_setp(ctx, nullptr, 0);
    if (status != 0)
        return KV_FAIL(CRYPT_E_ASN1_ERROR, "call to xe_setp() failed, result = %d", status);
    const int length = encodeFun(ctx, value, ASN1EXPL);
    if (length <= 0)
        return KV_FAIL(CRYPT_E_ASN1_ERROR, "call to encodeFun() failed, result = %d", length);
    *pcbEncoded = static_cast<DWORD>(length);
    return TRUE;
}

BOOL Asn1cObjectDecode(Asn1Context *ctx, const BYTE *pbEncoded, DWORD cbEncoded, void *value,
                       DecodeFun decodeFun)
{
    int status = SetDecodeInput(ctx, pbEncoded, cbEncoded);
    if (status != 0)
        return KV_FAIL(CRYPT_E_ASN1_ERROR, "call to xd_setp() failed, result = %d", status);
    status = decodeFun(ctx, value, ASN1EXPL, 0);
    if (status != 0)
        return KV_FAIL(CRYPT_E_ASN1_ERROR, "call to decodeFun() failed, result = %d", status);
    return TRUE;
}

int SetDecodeInput(Asn1Context *ctx, const BYTE *pb, DWORD cb)
{
    // The runtime reads a size of 0 as "take the extent from the header", which for a blob of
    // known length would read past it; and it counts in int.
    if (!pb || cb == 0) return ASN_E_ENDOFBUF;
    if (cb > static_cast<DWORD>(INT32_MAX)) return ASN_E_INVLEN;
    return xd_setp(ctx, pb, static_cast<int>(cb), nullptr, nullptr);
}

BOOL Asn1cObjectEncodeContextAlloc(Asn1Context *ctx, void *value, EncodeFun encodeFun,
                                   BYTE **ppbEncoded, DWORD *pcbEncoded)
{
    DWORD cbEncoded = 0;
    if (!Asn1cObjectEncode(ctx, value, encodeFun, &cbEncoded)) return FALSE;
    auto *pbCopy =
        static_cast<BYTE *>(ContextAllocToWrite(KV_HERE, ctx, cbEncoded, "ASN1MALLOC() failed"));
    if (!pbCopy) return FALSE;
    std::memcpy(pbCopy, xe_getp(ctx), cbEncoded);
    *ppbEncoded = pbCopy;
    *pcbEncoded = cbEncoded;
    return TRUE;
}

BOOL CryptEncodeObjectContextAlloc(Asn1Context *ctx, DWORD dwCertEncodingType,
                                   LPCSTR lpszStructType, const void *pvStructInfo,
                                   BYTE **ppbEncoded, DWORD *pcbEncoded)
{
    DWORD cbEncoded = 0;
    if (!CryptEncodeObject(dwCertEncodingType, lpszStructType, pvStructInfo, nullptr, &cbEncoded)) {
        KV_TRACE_ERROR("call to CryptEncodeObject() failed, result = %d",
                       static_cast<int>(GetLastError()));
        return FailKeepingLastError();
    }
    auto *pbEncoded =
        static_cast<BYTE *>(ContextAllocToWrite(KV_HERE, ctx, cbEncoded, "ASN1MALLOC() failed"));
    if (!pbEncoded) return FALSE;
    if (!CryptEncodeObject(dwCertEncodingType, lpszStructType, pvStructInfo, pbEncoded,
                           &cbEncoded)) {
        KV_TRACE_ERROR("call to CryptEncodeObject() failed, result = %d",
                       static_cast<int>(GetLastError()));
        return FailKeepingLastError();
    }
    *ppbEncoded = pbEncoded;
    *pcbEncoded = cbEncoded;
    return TRUE;
}

BOOL CryptDecodeObjectContextAlloc(Asn1Context *ctx, DWORD dwCertEncodingType,
                                   LPCSTR lpszStructType, const BYTE *pbEncoded, DWORD cbEncoded,
                                   DWORD dwFlags, void **ppvStructInfo)
{
    DWORD cbStructInfo = 0;
    if (!CryptDecodeObject(dwCertEncodingType, lpszStructType, pbEncoded, cbEncoded, dwFlags,
                           nullptr, &cbStructInfo)) {
        KV_TRACE_ERROR("call to CryptDecodeObject() failed, result = %d",
                       static_cast<int>(GetLastError()));
        return FailKeepingLastError();
    }
    void *pvStructInfo = ContextAlloc(KV_HERE, ctx, cbStructInfo, "ASN1MALLOC() failed");
    if (!pvStructInfo) return FALSE;
    if (!CryptDecodeObject(dwCertEncodingType, lpszStructType, pbEncoded, cbEncoded, dwFlags,
                           pvStructInfo, &cbStructInfo)) {
        KV_TRACE_ERROR("call to CryptDecodeObject() failed, result = %d",
                       static_cast<int>(GetLastError()));
        return FailKeepingLastError();
    }
    *ppvStructInfo = pvStructInfo;
    return TRUE;
}

void *ContextAlloc(TraceSite site, Asn1Context *ctx, size_t cb, const char *message)
{
    void *pv = ASN1MALLOCZ(ctx, cb);
    if (!pv) KV_FAIL_AT(site, NTE_NO_MEMORY, "%s", message);
    return pv;
}

void *ContextAllocToWrite(TraceSite site, Asn1Context *ctx, size_t cb, const char *message)
{
    void *pv = ASN1MALLOC(ctx, cb);
    if (!pv) KV_FAIL_AT(site, NTE_NO_MEMORY, "%s", message);
    return pv;
}

void *NewListElement(TraceSite site, Asn1Context *ctx, size_t cbElement)
{
    void *element = rtDListNewNodeAndData(ctx, cbElement);
    if (!element) KV_FAIL_AT(site, NTE_NO_MEMORY, "ALLOC_ASN1ELEMDNODE() failed");
    return element;
}

BOOL CheckFilledSize(TraceSite site, size_t cbFilled, DWORD cbBuffer)
{
    if (cbFilled != cbBuffer) return KV_FAIL_AT(site, CRYPT_E_BAD_ENCODE, "Wrong buffer size");
    return TRUE;
}

BOOL StoreFlatSize(TraceSite site, size_t cbNeeded, DWORD *pcbStructInfo)
{
    if (cbNeeded > std::numeric_limits<DWORD>::max())
        return KV_FAIL_AT(site, CRYPT_E_BAD_ENCODE, "Wrong buffer size");
    *pcbStructInfo = static_cast<DWORD>(cbNeeded);
    return TRUE;
}

BOOL CheckDecodeFlagsWithoutEx(TraceSite entryPoint, DWORD dwFlags)
{
    if (dwFlags & CRYPT_DECODE_ALLOC_FLAG)
        return KV_FAIL_AT(entryPoint, NTE_BAD_FLAGS,
                          "Unsupported dwFlags (%ld), no flags supported (dwFlags must be 0)",
                          static_cast<long>(dwFlags));
    return TRUE;
}

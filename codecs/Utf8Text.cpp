#include "codecs/Utf8Text.h"

#include "frame/AsnObject.h"

BOOL WideCharToUtf8String(Asn1Context *ctx, LPCWSTR pwszText, const char **ppszUtf8)
{
    const int cbUtf8 = WideCharToMultiByte(CP_UTF8, 0, pwszText, -1, nullptr, 0, nullptr, nullptr);
    if (cbUtf8 == 0) {
        KV_TRACE_ERROR("WideCharToMultiByte failed (0x%x)", static_cast<unsigned>(GetLastError()));
        return FailKeepingLastError();
    }
    auto *pszUtf8 = static_cast<char *>(
        ContextAllocToWrite(KV_HERE, ctx, static_cast<size_t>(cbUtf8), "ASN1MALLOC() failed"));
    if (!pszUtf8) return FALSE;
    if (WideCharToMultiByte(CP_UTF8, 0, pwszText, -1, pszUtf8, cbUtf8, nullptr, nullptr) == 0) {
        KV_TRACE_ERROR("WideCharToMultiByte failed (0x%x)", static_cast<unsigned>(GetLastError()));
        return FailKeepingLastError();
    }
    *ppszUtf8 = pszUtf8;
    return TRUE;
}

BOOL FmtUtf8Text(const char *pszUtf8, LPWSTR pwszText, int cchCapacity)
{
    if (MultiByteToWideChar(CP_UTF8, 0, pszUtf8, -1, pwszText, cchCapacity) == 0) {
        KV_TRACE_ERROR("MultiByteToWideChar failed (0x%x)", static_cast<unsigned>(GetLastError()));
        return FailKeepingLastError();
    }
    return TRUE;
}

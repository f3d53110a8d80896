// IssuerSignTool ::= SEQUENCE {
//     signTool      UTF8String,
//     cATool        UTF8String,
//     signToolCert  UTF8String,
//     cAToolCert    UTF8String }
// The caller sees the four texts as zero-terminated wide strings (4-byte wchar_t).
#include "asn1/Asn1Types.h"
#include "codecs/FmtObject.h"
#include "frame/EntryPoints.h"

#include <array>

namespace {

// The components in field order, for the ASN.1 value and the caller's structure alike.
std::array<const char **, 4> Components(IssuerSignTool *tool)
{
    return {&tool->signTool, &tool->cATool, &tool->signToolCert, &tool->cAToolCert};
}
std::array<LPWSTR *, 4> Fields(KVCERT_ISSUER_SIGN_TOOL *tool)
{
    return {&tool->pwszSignTool, &tool->pwszCATool, &tool->pwszSignToolCert, &tool->pwszCAToolCert};
}
std::array<LPCWSTR, 4> FieldValues(const KVCERT_ISSUER_SIGN_TOOL *tool)
{
    return {tool->pwszSignTool, tool->pwszCATool, tool->pwszSignToolCert, tool->pwszCAToolCert};
}

// Wide characters of a component, terminator included. Text that is not UTF-8 counts as
// empty, so that its conversion, not the size check, reports it.
DWORD WideCharsWithTerminator(const char *pszUtf8)
{
    const long cch = rtUTF8Len(pszUtf8);
    return static_cast<DWORD>(cch < 0 ? 1 : cch + 1);
}

size_t FlatSize(IssuerSignTool *tool)
{
    size_t cbNeeded = sizeof(KVCERT_ISSUER_SIGN_TOOL);
    for (const char **component : Components(tool))
        cbNeeded += sizeof(WCHAR) * WideCharsWithTerminator(*component);
    return cbNeeded;
}

BOOL IssuerSignTool_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo, void *value)
{
    const auto fields = FieldValues(static_cast<const KVCERT_ISSUER_SIGN_TOOL *>(pvStructInfo));
    const auto components = Components(static_cast<IssuerSignTool *>(value));
    for (size_t i = 0; i < fields.size(); ++i) {
        if (!fields[i]) {
            KV_TRACE_ERROR("Malformed KVCERT_ISSUER_SIGN_TOOL");
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (!WideCharToUtf8String(ctx, fields[i], components[i])) return FALSE;
    }
    return TRUE;
}

BOOL IssuerSignTool_GetBufferSize(Asn1Context *, void *value, DWORD *pcbStructInfo, void **)
{
    return StoreFlatSize(__func__, FlatSize(static_cast<IssuerSignTool *>(value)), pcbStructInfo);
}

// The structure, then the four wide strings back to back in field order.
BOOL IssuerSignTool_FillBuffer(Asn1Context *, void *value, void *pvBuffer, DWORD cbBuffer, void **)
{
    auto *asn1Tool = static_cast<IssuerSignTool *>(value);
    auto *tool = static_cast<KVCERT_ISSUER_SIGN_TOOL *>(pvBuffer);
    const auto components = Components(asn1Tool);
    const auto fields = Fields(tool);
    std::array<DWORD, 4> cchFields{};
    auto *cursor = reinterpret_cast<WCHAR *>(tool + 1);
    for (size_t i = 0; i < fields.size(); ++i) {
        cchFields[i] = WideCharsWithTerminator(*components[i]);
        *fields[i] = cursor;
        cursor += cchFields[i];
    }
    if (!CheckFilledSize(__func__, FlatSize(asn1Tool), cbBuffer)) return FALSE; // no string yet
    for (size_t i = 0; i < fields.size(); ++i)
        if (!FmtUtf8Text(*components[i], *fields[i], static_cast<int>(cchFields[i]))) return FALSE;
    return TRUE;
}

} // namespace

KV_DEFINE_ENCODE_ENTRY_POINTS(IssuerSignTool, IssuerSignTool, asn1E_IssuerSignTool,
                              IssuerSignTool_FillAsn1cObject)
KV_DEFINE_DECODE_ENTRY_POINTS(IssuerSignTool, IssuerSignTool, asn1D_IssuerSignTool,
                              IssuerSignTool_GetBufferSize, IssuerSignTool_FillBuffer)

// IssuerSignTool ::= SEQUENCE {
//     signTool      UTF8String,
//     cATool        UTF8String,
//     signToolCert  UTF8String,
//     cAToolCert    UTF8String }
// The caller sees the four texts as zero-terminated wide strings (4-byte wchar_t).
#include "asn1/Asn1Types.h"
#include "codecs/Utf8Text.h"
#include "frame/EntryPoints.h"
#include "frame/FlatLayout.h"

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

BOOL IssuerSignTool_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo, void *value)
{
    const auto fields = FieldValues(static_cast<const KVCERT_ISSUER_SIGN_TOOL *>(pvStructInfo));
    const auto components = Components(static_cast<IssuerSignTool *>(value));
    for (size_t i = 0; i < fields.size(); ++i) {
        if (!fields[i])
            return KV_FAIL(ERROR_INVALID_PARAMETER, "Malformed KVCERT_ISSUER_SIGN_TOOL");
        if (!WideCharToUtf8String(ctx, fields[i], components[i])) return FALSE;
    }
    return TRUE;
}

// The structure, then the four wide strings back to back in field order. The strings are
// converted only into a block of exactly the size counted, so a wrong size writes none.
BOOL IssuerSignTool_Layout(Asn1Context *, IssuerSignTool *asn1Tool, FlatCursor *cursor)
{
    KVCERT_ISSUER_SIGN_TOOL scratch{};
    const auto fields = Fields(&ElementOr(cursor->Take<KVCERT_ISSUER_SIGN_TOOL>(), 0, scratch));
    const auto components = Components(asn1Tool);
    std::array<DWORD, 4> cchFields{};
    for (size_t i = 0; i < fields.size(); ++i) {
        cchFields[i] = WideCharsWithTerminator(*components[i]);
        *fields[i] = cursor->Take<WCHAR>(cchFields[i]);
    }
    if (cursor->offset != cursor->cbBlock) return TRUE; // measured, or the frame's check fails
    for (size_t i = 0; i < fields.size(); ++i)
        if (!FmtUtf8Text(*components[i], *fields[i], static_cast<int>(cchFields[i]))) return FALSE;
    return TRUE;
}

KV_DEFINE_FLAT_RESULT_CALLBACKS(IssuerSignTool, IssuerSignTool_Layout)

} // namespace

KV_DEFINE_ENCODE_ENTRY_POINTS(IssuerSignTool, IssuerSignTool, asn1E_IssuerSignTool,
                              IssuerSignTool_FillAsn1cObject)
KV_DEFINE_DECODE_ENTRY_POINTS(IssuerSignTool, IssuerSignTool, asn1D_IssuerSignTool,
                              IssuerSignTool_GetBufferSize, IssuerSignTool_FillBuffer)
